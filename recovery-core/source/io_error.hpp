#pragma once

#include <string>

#include "recovery-core/source/io_error_kind.hpp"

namespace kestrel {

// An operating-system I/O failure (or a fixed I/O failure of our own, such as
// "failed to write whole buffer"), with its category and its display text.
// The display text of an OS failure is the system's message followed by
// " (os error {code})".
struct IoError {
  IoErrorKind kind = IoErrorKind::Other;
  std::string message;
  int os_code = 0;        // the platform's error code; 0 for errors of our own
  bool from_os = false;   // true when os_code is meaningful

  const std::string& display() const { return message; }
};

// The failure for a platform error code: errno on POSIX, a Win32 code on Windows.
IoError io_error_from_os_code(int code);

// The failure of the platform call that just failed (errno / GetLastError).
IoError last_io_error();

// A failure of our own, with a fixed text.
IoError io_error_custom(IoErrorKind kind, std::string text);

// "{system text} (os error {code})": the platform's text for a code.
std::string os_error_text(int code);

// The platform's text for a code alone (strerror, or FormatMessageW from the
// system message table without its final line break).
std::string os_message(int code);

}  // namespace kestrel
