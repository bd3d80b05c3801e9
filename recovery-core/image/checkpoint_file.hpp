#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/image/checkpoint.hpp"

namespace kestrel {

// The largest checkpoint file that is written or read. A range takes about
// 150 bytes of the file, so this holds some hundred thousand separate runs of
// bad sectors; a device that damaged would already spend far more time
// rewriting its checkpoint after every chunk than copying. Anything larger is
// refused before it is read whole.
inline constexpr std::uint64_t kCheckpointFileLimit = std::uint64_t{16} * 1024 * 1024;

// The file text of the checkpoint (the usual JSON layout, without a final
// line feed); the I/O error when it is over kCheckpointFileLimit, since it
// could never be read back.
std::expected<std::string, RecoveryError> checkpoint_text(const ImageCheckpoint& checkpoint);

// Replaces the file's content with the checkpoint (the usual JSON layout,
// without a final line feed) and flushes it to the device before returning.
// Fails with the I/O error, touching nothing when the text is over
// kCheckpointFileLimit and writing nothing when the path is no regular file.
std::expected<void, RecoveryError> save_checkpoint(const std::filesystem::path& path,
                                                   const ImageCheckpoint& checkpoint);

// The checkpoint in the file, or none when there is no file, which is the
// CheckpointMissing error while a non-empty partial image waits for one.
// Anything but a regular file is refused unread, and so is a file over
// kCheckpointFileLimit (InvalidCheckpoint, as is text the parser refuses); any
// other failed read is CheckpointUnreadable. Whether the checkpoint holds is
// validate_checkpoint's question.
std::expected<std::optional<ImageCheckpoint>, RecoveryError> load_checkpoint(
    const std::filesystem::path& path, bool partial_image_exists);

}  // namespace kestrel
