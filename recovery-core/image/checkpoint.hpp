#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "recovery-core/image/read_error_range.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/source/device_info.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// The format version every checkpoint is written with and the only one read.
inline constexpr std::string_view kImageCheckpointSchema = "1.0";

// The record that lets an interrupted image copy continue: the device it came
// from, how many bytes of the image are done and their digest, the ranges
// that were zero-filled, and a digest guarding the record. Stored next to the
// image (checkpoint_path) and replaced after every chunk.
struct ImageCheckpoint {
  std::string schema;
  std::string source_stable_id;
  std::uint64_t source_capacity = 0;
  std::uint32_t logical_sector_size = 0;
  std::uint64_t bytes_written = 0;
  std::string image_prefix_sha256;           // SHA-256 of the first bytes_written image bytes
  std::vector<ReadErrorRange> read_errors;   // ascending, non-overlapping, within bytes_written
  std::string checkpoint_sha256;             // checkpoint_digest of the seven fields above

  friend bool operator==(const ImageCheckpoint&, const ImageCheckpoint&) = default;
};

// The members in field order; read_errors as an array of range objects.
JsonValue to_json(const ImageCheckpoint& checkpoint);

// The output path with ".partial.json" appended to its last component, in the
// same directory. An output whose last component is not a file name (empty,
// "." or "..") is the OutputFilenameMissing error.
std::expected<std::filesystem::path, RecoveryError> checkpoint_path(
    const std::filesystem::path& output_path);

// Builds the record for the device and the progress given, in the current
// format version, its own digest filled in.
std::expected<ImageCheckpoint, RecoveryError> make_checkpoint(
    const DeviceInfo& device, std::uint64_t bytes_written, std::string image_prefix_sha256,
    std::vector<ReadErrorRange> read_errors);

// SHA-256, as 64 lower-case hex digits, of the counted little-endian encoding
// of the first seven fields: each text as its byte length (u64) and its bytes,
// capacity (u64), sector size (u32), bytes_written (u64), the number of ranges
// (u64) and per range offset (u64), length (u64) and error text. The stored
// checkpoint_sha256 is not part of the input.
std::expected<std::string, RecoveryError> checkpoint_digest(const ImageCheckpoint& checkpoint);

// Whether a checkpoint may resume a partial image of the given length from the
// device, first failing check wins: schema, stable_id, capacity, sector size,
// length, prefix hash form, read-error ranges, and last the record's digest.
std::expected<void, RecoveryError> validate_checkpoint(const ImageCheckpoint& checkpoint,
                                                       const DeviceInfo& device,
                                                       std::uint64_t partial_image_length);

}  // namespace kestrel
