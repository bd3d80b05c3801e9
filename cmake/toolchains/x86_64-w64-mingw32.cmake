# Cross-compiles kestrel-recovery-cli for 64-bit Windows with Debian's MinGW-w64
# (g++-mingw-w64-x86-64). The posix-threads variant of the compiler is used: its
# C++ library is the complete one (std::mutex and friends), and winpthread is
# linked statically like libgcc and libstdc++, so the executable needs no DLL
# besides the system's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTREL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTREL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTREL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTREL_MINGW_TRIPLET}-windres)

# Libraries and headers of the target come from the MinGW sysroot only; programs
# (the host's tools) are never searched there.
set(CMAKE_FIND_ROOT_PATH /usr/${KESTREL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# zlib is linked into the executable, never as zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)

# One self-contained executable: libgcc, libstdc++ and winpthread are static.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test executables run under Wine (wine64 on Debian, started through `wine`).
find_program(KESTREL_WINE NAMES wine wine64)
if(KESTREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTREL_WINE})
endif()
