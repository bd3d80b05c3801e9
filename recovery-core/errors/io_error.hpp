#pragma once

#include <optional>
#include <string>

#include "recovery-core/errors/io_error_kind.hpp"

namespace kestrel {

// What an I/O failure says about itself: its category, its text and, when the
// system reported it, the system's code. It never travels alone: it is the
// payload of the generic I/O kind of SourceError and of RecoveryError's I/O
// kind. The text of a system failure is "{system text} (os error {code})";
// a failure we detect ourselves ("failed to write whole buffer") has a fixed
// text and no code.
struct IoError {
  IoErrorKind kind = IoErrorKind::Other;
  std::string text;
  std::optional<int> os_code;

  // The text alone, as a message that embeds this failure shows it.
  const std::string& message() const { return text; }

  friend bool operator==(const IoError&, const IoError&) = default;
};

// A failure of our own, with a fixed text and no system code.
IoError io_error_custom(IoErrorKind kind, std::string text);

}  // namespace kestrel
