#pragma once

// Error codes as the running platform reports them, for tests that expect the
// system's own message for a failure (through os_error_text).
namespace kestrel::testing {

#ifdef _WIN32
inline constexpr int kNoSuchFileCode = 2;       // ERROR_FILE_NOT_FOUND
inline constexpr int kNoSuchDirectoryCode = 3;  // ERROR_PATH_NOT_FOUND: a missing directory on the way
#else
inline constexpr int kNoSuchFileCode = 2;       // ENOENT
inline constexpr int kNoSuchDirectoryCode = 2;  // ENOENT
#endif

}  // namespace kestrel::testing
