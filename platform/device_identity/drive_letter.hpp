#pragma once

#include <expected>

#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// The drive letter in upper case. Only A to Z in either case are letters; a
// digit or a letter of another script is refused (device_messages::kLetterNotAscii).
std::expected<char, SourceError> normalise_drive_letter(char32_t letter);

}  // namespace kestrel
