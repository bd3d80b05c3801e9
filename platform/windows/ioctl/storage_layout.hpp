#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel::storage_layout {

// Where the storage IOCTLs put what they answer: structure sizes and field
// offsets as the Windows SDK lays them out, every number little-endian.
inline constexpr std::size_t kLengthInformationSize = 8;  // GET_LENGTH_INFORMATION
inline constexpr std::size_t kDiskGeometrySize = 24;      // DISK_GEOMETRY
inline constexpr std::size_t kGeometryMediaType = 8;
inline constexpr std::size_t kGeometryTracksPerCylinder = 12;
inline constexpr std::size_t kGeometrySectorsPerTrack = 16;
inline constexpr std::size_t kGeometryBytesPerSector = 20;
inline constexpr std::size_t kAlignmentDescriptorSize = 28;  // STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR
inline constexpr std::size_t kAlignmentLogicalSector = 16;
inline constexpr std::size_t kAlignmentPhysicalSector = 20;
inline constexpr std::size_t kDescriptorVersion = 0;  // every STORAGE_*_DESCRIPTOR
inline constexpr std::size_t kDescriptorSizeField = 4;
inline constexpr std::size_t kDescriptorHeaderSize = 8;        // STORAGE_DESCRIPTOR_HEADER
inline constexpr std::size_t kDeviceDescriptorFixedSize = 36;  // STORAGE_DEVICE_DESCRIPTOR
inline constexpr std::size_t kDescriptorVendorOffset = 12;
inline constexpr std::size_t kDescriptorProductOffset = 16;
inline constexpr std::size_t kDescriptorSerialOffset = 24;
inline constexpr std::size_t kDescriptorBusType = 28;
inline constexpr std::size_t kDeviceNumberSize = 12;  // STORAGE_DEVICE_NUMBER
inline constexpr std::size_t kDeviceNumberType = 0;
inline constexpr std::size_t kDeviceNumberField = 4;
inline constexpr std::size_t kDeviceNumberPartition = 8;
inline constexpr std::size_t kPropertyQuerySize = 12;  // STORAGE_PROPERTY_QUERY

// STORAGE_PROPERTY_ID values.
inline constexpr std::uint32_t kStorageDeviceProperty = 0;
inline constexpr std::uint32_t kStorageAccessAlignmentProperty = 6;

// The Size a storage device descriptor may announce.
inline constexpr std::uint32_t kMinDescriptorSize = 36;
inline constexpr std::uint32_t kMaxDescriptorSize = 1'048'576;

// The DeviceNumber of a path that has none (a volume spanning disks).
inline constexpr std::uint32_t kDeviceNumberUnavailable = 0xFFFFFFFF;
inline constexpr std::uint32_t kFileDeviceDisk = 7;

}  // namespace kestrel::storage_layout
