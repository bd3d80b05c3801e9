#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "recovery-core/image/checkpoint.hpp"

namespace kestrel {

// The record in a checkpoint file's text: one object holding each of the
// eight fields exactly once with its type, in any order, other keys ignored.
// The error describes the first problem and where it shows ("... at line L
// column C"); docs/imaging.md lists the descriptions and which character each
// points at. The digest is left to validate_checkpoint.
std::expected<ImageCheckpoint, std::string> parse_checkpoint(std::string_view text);

}  // namespace kestrel
