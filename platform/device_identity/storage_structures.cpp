#include "platform/device_identity/storage_structures.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/text/unicode.hpp"
#include "recovery-core/text/utf8.hpp"

namespace kestrel {

namespace {

void put_u32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void put_u64(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value) {
  for (std::size_t i = 0; i < 8; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::array<std::uint8_t, storage_layout::kPropertyQuerySize> storage_property_query(
    std::uint32_t property_id) {
  std::array<std::uint8_t, storage_layout::kPropertyQuerySize> query{};
  for (std::size_t i = 0; i < 4; ++i) query[i] = static_cast<std::uint8_t>(property_id >> (8 * i));
  return query;
}

std::optional<std::uint32_t> storage_property_id(std::span<const std::uint8_t> query) {
  if (query.size() < storage_layout::kPropertyQuerySize) return std::nullopt;
  auto id = read_u32_le(query, 0);
  if (!id) return std::nullopt;
  return *id;
}

std::optional<std::string> descriptor_string(std::span<const std::uint8_t> descriptor,
                                             std::uint32_t offset) {
  if (offset == 0 || offset >= descriptor.size()) return std::nullopt;
  const auto rest = descriptor.subspan(offset);
  const auto end = std::find(rest.begin(), rest.end(), std::uint8_t{0});
  const std::string text = decode_utf8_lossy(rest.first(static_cast<std::size_t>(end - rest.begin())));
  std::string trimmed(trim_unicode_white_space(text));
  if (trimmed.empty()) return std::nullopt;
  return trimmed;
}

std::vector<std::uint8_t> encode_length_information(std::int64_t length) {
  std::vector<std::uint8_t> bytes(storage_layout::kLengthInformationSize, 0);
  put_u64(bytes, 0, static_cast<std::uint64_t>(length));
  return bytes;
}

std::vector<std::uint8_t> encode_disk_geometry(std::uint64_t length, std::uint32_t bytes_per_sector,
                                               bool removable) {
  constexpr std::uint32_t kTracksPerCylinder = 255;
  constexpr std::uint32_t kSectorsPerTrack = 63;
  constexpr std::uint32_t kRemovableMedia = 11;
  constexpr std::uint32_t kFixedMedia = 12;
  std::vector<std::uint8_t> bytes(storage_layout::kDiskGeometrySize, 0);
  const std::uint64_t cylinder_bytes =
      std::uint64_t{kTracksPerCylinder} * kSectorsPerTrack * bytes_per_sector;
  put_u64(bytes, 0, cylinder_bytes == 0 ? 0 : length / cylinder_bytes);
  put_u32(bytes, 8, removable ? kRemovableMedia : kFixedMedia);
  put_u32(bytes, 12, kTracksPerCylinder);
  put_u32(bytes, 16, kSectorsPerTrack);
  put_u32(bytes, storage_layout::kGeometryBytesPerSector, bytes_per_sector);
  return bytes;
}

std::vector<std::uint8_t> encode_alignment_descriptor(std::uint32_t logical_sector_size,
                                                      std::uint32_t physical_sector_size) {
  std::vector<std::uint8_t> bytes(storage_layout::kAlignmentDescriptorSize, 0);
  put_u32(bytes, 0, storage_layout::kAlignmentDescriptorSize);  // Version
  put_u32(bytes, 4, storage_layout::kAlignmentDescriptorSize);  // Size
  put_u32(bytes, storage_layout::kAlignmentLogicalSector, logical_sector_size);
  put_u32(bytes, storage_layout::kAlignmentPhysicalSector, physical_sector_size);
  return bytes;
}

std::vector<std::uint8_t> encode_storage_device_descriptor(const StorageDeviceFacts& facts) {
  // The fixed part ends with RawPropertiesLength and one byte of raw properties.
  std::vector<std::uint8_t> bytes(storage_layout::kDeviceDescriptorFixedSize + 4, 0);
  const auto append_text = [&bytes](const std::optional<std::string>& text, std::size_t field) {
    if (!text) return;
    put_u32(bytes, field, static_cast<std::uint32_t>(bytes.size()));
    bytes.insert(bytes.end(), text->begin(), text->end());
    bytes.push_back(0);
  };
  append_text(facts.vendor, storage_layout::kDescriptorVendorOffset);
  append_text(facts.product, storage_layout::kDescriptorProductOffset);
  append_text(facts.revision, storage_layout::kDescriptorRevisionOffset);
  append_text(facts.serial, storage_layout::kDescriptorSerialOffset);
  const auto size = static_cast<std::uint32_t>(bytes.size());
  put_u32(bytes, 0, size);  // Version
  put_u32(bytes, 4, size);  // Size
  bytes[storage_layout::kDescriptorRemovableMedia] = facts.removable ? 1 : 0;
  put_u32(bytes, storage_layout::kDescriptorBusType, facts.bus_type_code);
  return bytes;
}

std::vector<std::uint8_t> encode_device_number(std::uint32_t device_number,
                                               std::uint32_t partition_number) {
  std::vector<std::uint8_t> bytes(storage_layout::kDeviceNumberSize, 0);
  put_u32(bytes, 0, storage_layout::kFileDeviceDisk);
  put_u32(bytes, storage_layout::kDeviceNumberField, device_number);
  put_u32(bytes, 8, partition_number);
  return bytes;
}

std::uint32_t copy_answer(std::span<const std::uint8_t> answer, std::span<std::uint8_t> output) {
  const std::size_t count = std::min(answer.size(), output.size());
  if (count > 0) std::memcpy(output.data(), answer.data(), count);
  return static_cast<std::uint32_t>(count);
}

}  // namespace kestrel
