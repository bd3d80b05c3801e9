#pragma once

#include <string_view>

// The fixed texts of imaging: the engine's refusals and the checkpoint's
// validation and file texts, in one place for translators and reviewers. The
// error kinds add their own prefixes ("invalid structure: ", "I/O error: ").
namespace kestrel::imaging_messages {

// Start-up and copying.
inline constexpr std::string_view kChunkSizeNotSectorMultiple =
    "image chunk size must be a non-zero sector multiple";
inline constexpr std::string_view kPartialImageNotSectorAligned =
    "partial image is not sector aligned";
inline constexpr std::string_view kCheckpointRequiredForResume =
    "partial image checkpoint is required for resume";
inline constexpr std::string_view kPrefixDoesNotMatchCheckpoint =
    "partial image prefix does not match checkpoint";
inline constexpr std::string_view kFallbackNeedsAlignedChunks =
    "image read-error fallback requires sector-aligned chunks";
inline constexpr std::string_view kImageEndedWhileHashed = "failed to fill whole buffer";
// Put before the system's text when another run holds the image's lock.
inline constexpr std::string_view kOutputInUse = "image output is in use by another run: ";

// Checking a checkpoint against the device and the partial image.
inline constexpr std::string_view kUnsupportedSchema = "unsupported image checkpoint schema";
inline constexpr std::string_view kSourceIdentityMismatch =
    "image checkpoint source identity mismatch";
inline constexpr std::string_view kSourceCapacityMismatch =
    "image checkpoint source capacity mismatch";
inline constexpr std::string_view kSectorSizeMismatch = "image checkpoint sector size mismatch";
inline constexpr std::string_view kLengthMismatch =
    "image checkpoint length does not match partial image";
inline constexpr std::string_view kInvalidPrefixHash =
    "image checkpoint contains an invalid prefix hash";
inline constexpr std::string_view kInvalidReadErrorRange =
    "image checkpoint contains an invalid read-error range";
inline constexpr std::string_view kCheckpointDigest = "image checkpoint";

// The checkpoint file.
inline constexpr std::string_view kCheckpointNotRegularFile =
    "image checkpoint is not a regular file";
inline constexpr std::string_view kNotRegularFile = "not a regular file";
inline constexpr std::string_view kFileChangedWhileRead = "file changed while it was read";

}  // namespace kestrel::imaging_messages
