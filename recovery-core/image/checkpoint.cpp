#include "recovery-core/image/checkpoint.hpp"

#include <algorithm>
#include <utility>

#include "os/sha256.hpp"
#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/image/imaging_messages.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

namespace messages = imaging_messages;

using Bytes = std::basic_string<std::uint8_t>;

void append_counted_text(Bytes& out, std::string_view text) {
  append_u64_le(out, text.size());
  out.append(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

bool is_hex_digest(std::string_view text) {
  return text.size() == 64 && std::ranges::all_of(text, [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
         });
}

std::unexpected<RecoveryError> invalid(std::string_view text) {
  return std::unexpected(RecoveryError::invalid_structure(std::string(text)));
}

// The checkpoint belongs to this device and to a partial image of this length.
std::expected<void, RecoveryError> check_device_and_length(const ImageCheckpoint& checkpoint,
                                                           const DeviceInfo& device,
                                                           std::uint64_t partial_image_length) {
  if (checkpoint.schema != kImageCheckpointSchema) return invalid(messages::kUnsupportedSchema);
  if (checkpoint.source_stable_id != device.stable_id)
    return invalid(messages::kSourceIdentityMismatch);
  if (checkpoint.source_capacity != device.capacity_bytes)
    return invalid(messages::kSourceCapacityMismatch);
  if (checkpoint.logical_sector_size != device.logical_sector_size) {
    return invalid(messages::kSectorSizeMismatch);
  }
  if (checkpoint.bytes_written != partial_image_length) return invalid(messages::kLengthMismatch);
  return {};
}

// Every range is whole sectors, lies within the image, and begins at or after
// the end of the one before.
std::expected<void, RecoveryError> check_read_error_ranges(const ImageCheckpoint& checkpoint,
                                                           std::uint64_t sector) {
  // The source guards refuse a zero sector size before anything is read; should
  // one arrive here anyway, every range is invalid rather than divided by zero.
  std::uint64_t previous_end = 0;
  for (const ReadErrorRange& range : checkpoint.read_errors) {
    KESTREL_TRY_ASSIGN(end, checked_add(range.offset, range.length));
    const bool invalid_range = range.length == 0 || sector == 0 || range.offset % sector != 0 ||
                               range.length % sector != 0 || *end > checkpoint.bytes_written ||
                               range.offset < previous_end;
    if (invalid_range) return invalid(messages::kInvalidReadErrorRange);
    previous_end = *end;
  }
  return {};
}

}  // namespace

JsonValue to_json(const ImageCheckpoint& checkpoint) {
  JsonValue ranges = JsonValue::array();
  for (const ReadErrorRange& range : checkpoint.read_errors) ranges.push_back(to_json(range));
  JsonValue json = JsonValue::object();
  json["schema"] = checkpoint.schema;
  json["source_stable_id"] = checkpoint.source_stable_id;
  json["source_capacity"] = checkpoint.source_capacity;
  json["logical_sector_size"] = checkpoint.logical_sector_size;
  json["bytes_written"] = checkpoint.bytes_written;
  json["image_prefix_sha256"] = checkpoint.image_prefix_sha256;
  json["read_errors"] = std::move(ranges);
  json["checkpoint_sha256"] = checkpoint.checkpoint_sha256;
  return json;
}

std::expected<std::filesystem::path, RecoveryError> checkpoint_path(
    const std::filesystem::path& output_path) {
  const std::filesystem::path name = output_path.filename();
  if (name.empty() || name == "." || name == "..") {
    return std::unexpected(RecoveryError::output_filename_missing());
  }
  std::filesystem::path result = output_path;
  result.replace_filename(name.native() + std::filesystem::path(".partial.json").native());
  return result;
}

std::expected<ImageCheckpoint, RecoveryError> make_checkpoint(
    const DeviceInfo& device, std::uint64_t bytes_written, std::string image_prefix_sha256,
    std::vector<ReadErrorRange> read_errors) {
  ImageCheckpoint checkpoint{
      .schema = std::string(kImageCheckpointSchema),
      .source_stable_id = device.stable_id,
      .source_capacity = device.capacity_bytes,
      .logical_sector_size = device.logical_sector_size,
      .bytes_written = bytes_written,
      .image_prefix_sha256 = std::move(image_prefix_sha256),
      .read_errors = std::move(read_errors),
      .checkpoint_sha256 = {},
  };
  KESTREL_TRY_ASSIGN(digest, checkpoint_digest(checkpoint));
  checkpoint.checkpoint_sha256 = std::move(*digest);
  return checkpoint;
}

std::expected<std::string, RecoveryError> checkpoint_digest(const ImageCheckpoint& checkpoint) {
  Bytes encoded;
  append_counted_text(encoded, checkpoint.schema);
  append_counted_text(encoded, checkpoint.source_stable_id);
  append_u64_le(encoded, checkpoint.source_capacity);
  append_u32_le(encoded, checkpoint.logical_sector_size);
  append_u64_le(encoded, checkpoint.bytes_written);
  append_counted_text(encoded, checkpoint.image_prefix_sha256);
  append_u64_le(encoded, checkpoint.read_errors.size());
  for (const ReadErrorRange& range : checkpoint.read_errors) {
    append_u64_le(encoded, range.offset);
    append_u64_le(encoded, range.length);
    append_counted_text(encoded, range.error);
  }
  return sha256_hex(encoded);
}

std::expected<void, RecoveryError> validate_checkpoint(const ImageCheckpoint& checkpoint,
                                                       const DeviceInfo& device,
                                                       std::uint64_t partial_image_length) {
  if (auto fits = check_device_and_length(checkpoint, device, partial_image_length); !fits)
    return fits;
  if (!is_hex_digest(checkpoint.image_prefix_sha256)) return invalid(messages::kInvalidPrefixHash);
  if (auto ranges = check_read_error_ranges(checkpoint, device.logical_sector_size); !ranges)
    return ranges;
  KESTREL_TRY_ASSIGN(digest, checkpoint_digest(checkpoint));
  if (!is_hex_digest(checkpoint.checkpoint_sha256) || checkpoint.checkpoint_sha256 != *digest) {
    return std::unexpected(
        RecoveryError::checksum_mismatch(std::string(messages::kCheckpointDigest)));
  }
  return {};
}

}  // namespace kestrel
