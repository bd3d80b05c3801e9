#pragma once

#include <expected>

#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// An ASCII drive letter, upper-cased; anything else (a digit, a non-ASCII
// letter) is the Io error "drive letter must be ASCII alphabetic" (InvalidInput).
std::expected<char, SourceError> normalise_drive_letter(char32_t letter);

}  // namespace kestrel
