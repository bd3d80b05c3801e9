#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "recovery-core/image/checkpoint.hpp"

namespace kestrel {

// Containers may nest this deep in a checkpoint text (the record itself needs
// three levels: the object, read_errors, one range; the rest is left for
// values of unknown keys, which are skipped).
inline constexpr std::size_t kCheckpointMaxNesting = 64;

// The record in a checkpoint file's text: one object holding each of the
// eight fields exactly once with its type, in any order, other keys ignored.
// The error describes the first problem and where it shows ("... at line L
// column C"); docs/imaging.md lists the descriptions and which character each
// points at. The digest is left to validate_checkpoint.
std::expected<ImageCheckpoint, std::string> parse_checkpoint(std::string_view text);

}  // namespace kestrel
