#include "tests/support/simulated-platform/windows_answers.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "platform/windows/ioctl/storage_layout.hpp"

namespace kestrel::testing {

namespace layout = storage_layout;

namespace {

void put_u32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void put_u64(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value) {
  for (std::size_t i = 0; i < 8; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::vector<std::uint8_t> encode_length_information(std::int64_t length) {
  std::vector<std::uint8_t> bytes(layout::kLengthInformationSize, 0);
  put_u64(bytes, 0, static_cast<std::uint64_t>(length));
  return bytes;
}

std::vector<std::uint8_t> encode_disk_geometry(std::uint64_t length,
                                               std::uint32_t bytes_per_sector) {
  constexpr std::uint32_t kTracksPerCylinder = 255;
  constexpr std::uint32_t kSectorsPerTrack = 63;
  constexpr std::uint32_t kRemovableMedia = 11;
  std::vector<std::uint8_t> bytes(layout::kDiskGeometrySize, 0);
  const std::uint64_t cylinder_bytes =
      std::uint64_t{kTracksPerCylinder} * kSectorsPerTrack * bytes_per_sector;
  put_u64(bytes, 0, cylinder_bytes == 0 ? 0 : length / cylinder_bytes);
  put_u32(bytes, layout::kGeometryMediaType, kRemovableMedia);
  put_u32(bytes, layout::kGeometryTracksPerCylinder, kTracksPerCylinder);
  put_u32(bytes, layout::kGeometrySectorsPerTrack, kSectorsPerTrack);
  put_u32(bytes, layout::kGeometryBytesPerSector, bytes_per_sector);
  return bytes;
}

std::vector<std::uint8_t> encode_alignment_descriptor(std::uint32_t logical_sector_size,
                                                      std::uint32_t physical_sector_size) {
  std::vector<std::uint8_t> bytes(layout::kAlignmentDescriptorSize, 0);
  put_u32(bytes, layout::kDescriptorVersion, layout::kAlignmentDescriptorSize);
  put_u32(bytes, layout::kDescriptorSizeField, layout::kAlignmentDescriptorSize);
  put_u32(bytes, layout::kAlignmentLogicalSector, logical_sector_size);
  put_u32(bytes, layout::kAlignmentPhysicalSector, physical_sector_size);
  return bytes;
}

std::vector<std::uint8_t> encode_storage_device_descriptor(const StorageDescriptor& facts) {
  // The fixed part ends with RawPropertiesLength and one byte of raw properties.
  std::vector<std::uint8_t> bytes(layout::kDeviceDescriptorFixedSize + 4, 0);
  const auto append_text = [&bytes](const std::optional<std::string>& text, std::size_t field) {
    if (!text) return;
    put_u32(bytes, field, static_cast<std::uint32_t>(bytes.size()));
    bytes.insert(bytes.end(), text->begin(), text->end());
    bytes.push_back(0);
  };
  append_text(facts.vendor, layout::kDescriptorVendorOffset);
  append_text(facts.product, layout::kDescriptorProductOffset);
  append_text(facts.serial, layout::kDescriptorSerialOffset);
  const auto size = static_cast<std::uint32_t>(bytes.size());
  put_u32(bytes, layout::kDescriptorVersion, size);
  put_u32(bytes, layout::kDescriptorSizeField, size);
  put_u32(bytes, layout::kDescriptorBusType, facts.bus_type_code);
  return bytes;
}

std::vector<std::uint8_t> encode_device_number(std::uint32_t device_number,
                                               std::uint32_t partition_number) {
  std::vector<std::uint8_t> bytes(layout::kDeviceNumberSize, 0);
  put_u32(bytes, layout::kDeviceNumberType, layout::kFileDeviceDisk);
  put_u32(bytes, layout::kDeviceNumberField, device_number);
  put_u32(bytes, layout::kDeviceNumberPartition, partition_number);
  return bytes;
}

std::uint32_t copy_answer(std::span<const std::uint8_t> answer, std::span<std::uint8_t> output) {
  const std::size_t count = std::min(answer.size(), output.size());
  if (count > 0) std::memcpy(output.data(), answer.data(), count);
  return static_cast<std::uint32_t>(count);
}

}  // namespace kestrel::testing
