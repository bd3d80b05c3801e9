#pragma once

#include <string>

#include "recovery-core/errors/io_error_kind.hpp"

namespace kestrel {

// An operating-system I/O failure (or a fixed I/O failure of our own, such as
// "failed to write whole buffer"), with its category and its display text.
// The display text of an OS failure is the system's message followed by
// " (os error {code})".
struct IoError {
  IoErrorKind kind = IoErrorKind::Other;
  std::string text;
  int os_code = 0;        // the platform's error code; 0 for errors of our own
  bool from_os = false;   // true when os_code is meaningful

  const std::string& message() const { return text; }
};

// A failure of our own, with a fixed text.
IoError io_error_custom(IoErrorKind kind, std::string text);

}  // namespace kestrel
