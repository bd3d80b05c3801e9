#pragma once

#include <string>

#include "recovery-core/errors/io_error_kind.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// The system's error codes (errno on Linux, GetLastError codes on Windows) in
// our vocabulary. Every service of this layer fails with the generic I/O kind
// of SourceError: the code's category, "{system text} (os error {code})" and
// the code itself.

// The generic I/O failure for a platform error code.
SourceError io_error_from_os_code(int code);

// The generic I/O failure of the platform call that just failed.
SourceError last_io_error();

// "{system text} (os error {code})".
std::string os_error_text(int code);

// The system's text for a code alone: strerror, or FormatMessageW from the
// system message table without the line break it ends with.
std::string os_message(int code);

// Category of a POSIX errno value (POSIX builds only).
IoErrorKind io_error_kind_from_errno(int code);

// An errno value met by a device as a source error (POSIX builds only): denied
// access (EACCES, EPERM) and a vanished device (ENODEV, ENXIO, ENOMEDIUM) are
// their specific kinds, any other code the generic kind.
SourceError source_error_from_errno(int code);

}  // namespace kestrel
