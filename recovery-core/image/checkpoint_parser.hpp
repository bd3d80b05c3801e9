#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/image/checkpoint.hpp"

namespace kestrel {

// Containers may nest this deep in a checkpoint text (the record itself needs
// three levels: the object, read_errors, one range; the rest is left for
// values of unknown keys, which are skipped).
inline constexpr std::size_t kCheckpointMaxNesting = 64;

// Turns the text of a checkpoint file into the record: one JSON object with
// each of the eight members once and of its type, keys in any order, unknown
// keys skipped. A refusal is the InvalidCheckpoint kind describing the first
// problem and ending in " at line L column C" (docs/checkpoint-format.md says
// which character the position names). The digest is left to
// validate_checkpoint.
std::expected<ImageCheckpoint, RecoveryError> parse_checkpoint(std::string_view text);

}  // namespace kestrel
