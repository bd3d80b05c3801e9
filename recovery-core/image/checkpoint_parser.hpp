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

// Reads the text of a checkpoint file into the record. The text must be one
// JSON object, followed by nothing but white space. Keys may come in any
// order; unknown keys are skipped; each of the eight fields (and in every
// read_errors element each of "offset", "length" and "error") must appear
// exactly once, with its type: text, an unsigned integer within 64 bits (32
// for logical_sector_size), or for read_errors an array of range objects.
//
// The error is a description of the first problem, ending in " at line L
// column C". Lines and columns count from 1; columns count bytes. The position
// is the last character of the token at which the problem shows: the closing
// quotation mark of a duplicate key, the closing brace of an object that lacks
// a field, the last character of a value of the wrong type or range; for text
// that is not JSON, the character at which reading stopped (one past the last
// character when the text ends too early). A missing field reads
// "missing field `key` at line L column C", a repeated one
// "duplicate field `key` at line L column C".
//
// The digest is not checked here (validate_checkpoint does that).
std::expected<ImageCheckpoint, RecoveryError> parse_checkpoint(std::string_view text);

}  // namespace kestrel
