# The JSON library is header-only and platform-free, and Debian packages it for
# the build machine only. The cross build takes its headers from the host's
# package, copied into the build tree, so that no host include directory (with
# the host's C library headers) ever joins the Windows compile.
function(kestrel_import_host_json)
  find_package(nlohmann_json 3.11 REQUIRED CONFIG NO_CMAKE_FIND_ROOT_PATH)
  get_target_property(host_includes nlohmann_json::nlohmann_json INTERFACE_INCLUDE_DIRECTORIES)
  list(REMOVE_DUPLICATES host_includes)
  list(GET host_includes 0 host_include)
  if(NOT EXISTS "${host_include}/nlohmann/json.hpp")
    message(FATAL_ERROR "nlohmann/json.hpp not found below ${host_include}")
  endif()
  set(copied "${CMAKE_BINARY_DIR}/host-headers")
  file(COPY "${host_include}/nlohmann" DESTINATION "${copied}")
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${copied}")
endfunction()
