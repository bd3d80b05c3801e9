#pragma once

#include <expected>
#include <string_view>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/image/checkpoint.hpp"

namespace kestrel {

// The record in a checkpoint file's text: one object holding each of the
// eight fields exactly once with its type, in any order, other keys ignored.
// A refusal is the InvalidCheckpoint error describing the first problem and
// where it shows ("... at line L column C"); docs/checkpoint-format.md lists
// the descriptions and which character each points at. The digest is left to
// validate_checkpoint.
std::expected<ImageCheckpoint, RecoveryError> parse_checkpoint(std::string_view text);

}  // namespace kestrel
