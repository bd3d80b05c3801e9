#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrel {

// Layouts of the storage structures the device queries answer with (little
// endian, public Windows SDK layouts). The rules parse them; a backend on a
// system without these structures builds them with the encoders below.
namespace storage_layout {
inline constexpr std::size_t kLengthInformationSize = 8;      // GET_LENGTH_INFORMATION
inline constexpr std::size_t kDiskGeometrySize = 24;          // DISK_GEOMETRY
inline constexpr std::size_t kGeometryBytesPerSector = 20;
inline constexpr std::size_t kAlignmentDescriptorSize = 28;   // STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR
inline constexpr std::size_t kAlignmentLogicalSector = 16;
inline constexpr std::size_t kAlignmentPhysicalSector = 20;
inline constexpr std::size_t kDescriptorHeaderSize = 8;       // STORAGE_DESCRIPTOR_HEADER
inline constexpr std::size_t kDescriptorHeaderSizeField = 4;
inline constexpr std::size_t kDeviceDescriptorFixedSize = 36; // STORAGE_DEVICE_DESCRIPTOR
inline constexpr std::size_t kDescriptorRemovableMedia = 10;
inline constexpr std::size_t kDescriptorVendorOffset = 12;
inline constexpr std::size_t kDescriptorProductOffset = 16;
inline constexpr std::size_t kDescriptorRevisionOffset = 20;
inline constexpr std::size_t kDescriptorSerialOffset = 24;
inline constexpr std::size_t kDescriptorBusType = 28;
inline constexpr std::size_t kDeviceNumberSize = 12;          // STORAGE_DEVICE_NUMBER
inline constexpr std::size_t kDeviceNumberField = 4;
inline constexpr std::size_t kPropertyQuerySize = 12;         // STORAGE_PROPERTY_QUERY

inline constexpr std::uint32_t kStorageDeviceProperty = 0;
inline constexpr std::uint32_t kStorageAccessAlignmentProperty = 6;

// Bounds a storage device descriptor's announced Size must keep.
inline constexpr std::uint32_t kMinDescriptorSize = 36;
inline constexpr std::uint32_t kMaxDescriptorSize = 1'048'576;

inline constexpr std::uint32_t kDeviceNumberUnavailable = 0xFFFFFFFF;
inline constexpr std::uint32_t kFileDeviceDisk = 7;
}  // namespace storage_layout

// A standard query for one storage property: PropertyId, QueryType 0, no
// additional parameters.
std::array<std::uint8_t, storage_layout::kPropertyQuerySize> storage_property_query(
    std::uint32_t property_id);

// The PropertyId of a storage property query; absent when the input is shorter
// than a query.
std::optional<std::uint32_t> storage_property_id(std::span<const std::uint8_t> query);

// A text of a storage device descriptor: from the offset to the first zero
// byte or the end of the descriptor, decoded as UTF-8 (invalid sequences
// replaced), trimmed of white space. Absent for offset 0, an offset not below
// the descriptor's size, or an empty result.
std::optional<std::string> descriptor_string(std::span<const std::uint8_t> descriptor,
                                             std::uint32_t offset);

// What a storage device descriptor says about a device.
struct StorageDeviceFacts {
  std::optional<std::string> vendor;
  std::optional<std::string> product;
  std::optional<std::string> revision;
  std::optional<std::string> serial;
  std::uint32_t bus_type_code = 0;
  bool removable = false;
};

// Encoders for backends that build the structures themselves.
std::vector<std::uint8_t> encode_length_information(std::int64_t length);
std::vector<std::uint8_t> encode_disk_geometry(std::uint64_t length, std::uint32_t bytes_per_sector,
                                               bool removable);
std::vector<std::uint8_t> encode_alignment_descriptor(std::uint32_t logical_sector_size,
                                                      std::uint32_t physical_sector_size);
// The whole descriptor: the fixed part, then each present text NUL-terminated;
// an absent text has offset 0.
std::vector<std::uint8_t> encode_storage_device_descriptor(const StorageDeviceFacts& facts);
std::vector<std::uint8_t> encode_device_number(std::uint32_t device_number,
                                               std::uint32_t partition_number);

// Copies as much of an answer as fits the output, as a device control does, and
// answers the number of bytes copied.
std::uint32_t copy_answer(std::span<const std::uint8_t> answer, std::span<std::uint8_t> output);

}  // namespace kestrel
