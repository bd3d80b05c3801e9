#pragma once

#include <string>

#include "recovery-core/errors/io_error.hpp"
#include "recovery-core/errors/io_error_kind.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// The system's error codes in our vocabulary: errno on Linux, GetLastError
// codes on Windows.

// The failure for a platform error code: errno on POSIX, a Win32 code on Windows.
IoError io_error_from_os_code(int code);

// The failure of the platform call that just failed (errno / GetLastError).
IoError last_io_error();

// "{system text} (os error {code})": the platform's text for a code.
std::string os_error_text(int code);

// The platform's text for a code alone (strerror, or FormatMessageW from the
// system message table without its final line break).
std::string os_message(int code);

// Category of a POSIX errno value (POSIX builds only).
IoErrorKind io_error_kind_from_errno(int code);

// A POSIX errno value as a source error: EACCES/EPERM deny permission,
// ENODEV/ENXIO/ENOMEDIUM mean the device is gone, the rest are generic I/O errors.
SourceError source_error_from_errno(int code);

}  // namespace kestrel
