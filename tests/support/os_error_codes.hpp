#pragma once

// Error codes as the running platform reports them, for tests that stage a
// failure or expect the system's own message for one (through os_error_text).
namespace kestrel::testing {

#ifdef _WIN32
inline constexpr int kNoSuchFileCode = 2;  // ERROR_FILE_NOT_FOUND
inline constexpr int kNoSuchDirectoryCode =
    3;  // ERROR_PATH_NOT_FOUND: a missing directory on the way
inline constexpr int kDirectoryAsFileCode = 5;  // ERROR_ACCESS_DENIED: a directory opened as a file
inline constexpr int kDiskFullCode = 112;       // ERROR_DISK_FULL
inline constexpr int kDeviceFailureCode = 1117;  // ERROR_IO_DEVICE
inline constexpr int kBadSectorCode = 23;        // ERROR_CRC: what a raw read of a bad sector gives
inline constexpr int kLockHeldCode = 33;         // ERROR_LOCK_VIOLATION
inline constexpr int kFileInTheWayCode =
    183;  // ERROR_ALREADY_EXISTS: a file where a directory should be
inline constexpr int kBrokenPipeCode = 232;  // ERROR_NO_DATA: a pipe whose reader is gone
#else
inline constexpr int kNoSuchFileCode = 2;        // ENOENT
inline constexpr int kNoSuchDirectoryCode = 2;   // ENOENT
inline constexpr int kDirectoryAsFileCode = 21;  // EISDIR
inline constexpr int kDiskFullCode = 28;         // ENOSPC
inline constexpr int kDeviceFailureCode = 5;     // EIO
inline constexpr int kBadSectorCode = 5;         // EIO
inline constexpr int kLockHeldCode = 11;         // EWOULDBLOCK
inline constexpr int kFileInTheWayCode = 20;     // ENOTDIR
inline constexpr int kBrokenPipeCode = 32;       // EPIPE
#endif

}  // namespace kestrel::testing
