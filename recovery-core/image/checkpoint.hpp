#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/image/read_error_range.hpp"
#include "recovery-core/json/json_value.hpp"
#include "recovery-core/source/device_info.hpp"

namespace kestrel {

// The format version every checkpoint is written with and the only one read.
inline constexpr std::string_view kImageCheckpointSchema = "1.0";

// The record that lets an interrupted image be continued: the device it was
// taken from, how much of the image is done, a digest of that part, the
// unreadable ranges met in it, and a digest of the record. The engine rewrites
// it beside the image after every chunk (docs/checkpoint-format.md).
struct ImageCheckpoint {
  std::string schema;
  std::string source_stable_id;
  std::uint64_t source_capacity = 0;
  std::uint32_t logical_sector_size = 0;
  std::uint64_t bytes_written = 0;
  std::string image_prefix_sha256;          // of the image's first bytes_written bytes
  std::vector<ReadErrorRange> read_errors;  // by offset, apart, inside bytes_written
  std::string checkpoint_sha256;            // checkpoint_digest of everything above

  friend bool operator==(const ImageCheckpoint&, const ImageCheckpoint&) = default;
};

// The members in field order; read_errors as an array of range objects.
JsonValue to_json(const ImageCheckpoint& checkpoint);

// Where the checkpoint of an image lives: beside it, named after it with
// ".partial.json" added. An output that does not end in a file name ("", ".",
// "..") has no checkpoint name: the OutputFilenameMissing error.
std::expected<std::filesystem::path, RecoveryError> checkpoint_path(
    const std::filesystem::path& output_path);

// The checkpoint of the current schema for this device and progress, its
// digest filled in.
std::expected<ImageCheckpoint, RecoveryError> make_checkpoint(
    const DeviceInfo& device, std::uint64_t bytes_written, std::string image_prefix_sha256,
    std::vector<ReadErrorRange> read_errors);

// The digest of every field but checkpoint_sha256 itself, in lower-case hex;
// its byte encoding is in docs/checkpoint-format.md.
std::expected<std::string, RecoveryError> checkpoint_digest(const ImageCheckpoint& checkpoint);

// Whether the checkpoint may continue a partial image of this length from
// this device; the first check that fails is the error (their order is in
// docs/checkpoint-format.md). The image's own bytes are the caller's to compare.
std::expected<void, RecoveryError> validate_checkpoint(const ImageCheckpoint& checkpoint,
                                                       const DeviceInfo& device,
                                                       std::uint64_t partial_image_length);

}  // namespace kestrel
