#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>

#include "recovery-core/image/checkpoint.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// The largest checkpoint file that is written or read. A range takes about
// 150 bytes of the file, so this holds some hundred thousand separate runs of
// bad sectors; a device that damaged would already spend far more time
// rewriting its checkpoint after every chunk than copying. Anything larger is
// refused before it is read whole.
inline constexpr std::uint64_t kCheckpointFileLimit = 16 * 1024 * 1024;

// Writes the checkpoint in the JSON text form of every document, with no line
// feed after the closing brace: created or truncated in place, written whole,
// flushed to the device and closed. Any failure, and a text larger than
// kCheckpointFileLimit (which could not be read back), is the I/O error; the
// oversized text is refused before the file is touched, a path that does not
// lead to a regular file before anything is written.
std::expected<void, RecoveryError> save_checkpoint(const std::filesystem::path& path,
                                                   const ImageCheckpoint& checkpoint);

// Reads a checkpoint file. A missing file means no checkpoint, or the
// CheckpointMissing error when a non-empty partial image is waiting for one.
// Any other failure to read it is CheckpointUnreadable; a path that is no
// regular file (refused before reading), a file over kCheckpointFileLimit or
// text the parser refuses is InvalidCheckpoint. The digest is checked later,
// by validate_checkpoint.
std::expected<std::optional<ImageCheckpoint>, RecoveryError> load_checkpoint(
    const std::filesystem::path& path, bool partial_image_exists);

}  // namespace kestrel
