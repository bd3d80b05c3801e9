#include "platform/device_identity/describe_device.hpp"

#include <array>
#include <tuple>
#include <vector>

#include "platform/device_identity/device_number.hpp"
#include "platform/device_identity/drive_letter.hpp"
#include "platform/device_identity/owned_device_handle.hpp"
#include "platform/device_identity/storage_structures.hpp"
#include "platform/device_identity/system_disk_status.hpp"
#include "recovery-core/bytes/little_endian.hpp"

namespace kestrel {

namespace {

namespace layout = storage_layout;

SourceError short_output(const char* structure) {
  return SourceError::io(std::string("short IOCTL output: ") + structure,
                         IoErrorKind::UnexpectedEof);
}

std::expected<std::uint64_t, SourceError> query_length(DevicePlatform& platform,
                                                       DeviceHandle handle) {
  std::array<std::uint8_t, layout::kLengthInformationSize> output{};
  auto returned = platform.control(handle, DeviceControl::GetLengthInformation, {}, output);
  if (!returned) return std::unexpected(platform.source_error(returned.error()));
  if (*returned < output.size()) return std::unexpected(short_output("GET_LENGTH_INFORMATION"));
  const auto length = static_cast<std::int64_t>(read_u64_le(output, 0).value_or(0));
  if (length < 0) return std::unexpected(SourceError::zero_capacity());
  return static_cast<std::uint64_t>(length);
}

struct SectorSizes {
  std::uint32_t logical = 0;
  std::optional<std::uint32_t> physical;
};

// The access alignment descriptor, when it answers fully with a non-zero
// logical sector size; every other outcome is silently passed over.
std::optional<SectorSizes> query_alignment(DevicePlatform& platform, DeviceHandle handle) {
  const auto query = storage_property_query(layout::kStorageAccessAlignmentProperty);
  std::array<std::uint8_t, layout::kAlignmentDescriptorSize> output{};
  auto returned = platform.control(handle, DeviceControl::QueryStorageProperty, query, output);
  if (!returned || *returned < output.size()) return std::nullopt;
  const std::uint32_t logical = read_u32_le(output, layout::kAlignmentLogicalSector).value_or(0);
  if (logical == 0) return std::nullopt;
  const std::uint32_t physical = read_u32_le(output, layout::kAlignmentPhysicalSector).value_or(0);
  SectorSizes sizes{logical, std::nullopt};
  if (physical != 0) sizes.physical = physical;
  return sizes;
}

std::expected<SectorSizes, SourceError> query_geometry(DevicePlatform& platform,
                                                       DeviceHandle handle) {
  std::array<std::uint8_t, layout::kDiskGeometrySize> output{};
  auto returned = platform.control(handle, DeviceControl::GetDriveGeometry, {}, output);
  if (!returned) return std::unexpected(platform.source_error(returned.error()));
  if (*returned < output.size()) return std::unexpected(short_output("DISK_GEOMETRY"));
  const std::uint32_t bytes_per_sector =
      read_u32_le(output, layout::kGeometryBytesPerSector).value_or(0);
  if (bytes_per_sector == 0) return std::unexpected(SourceError::zero_logical_sector_size());
  return SectorSizes{bytes_per_sector, std::nullopt};
}

std::expected<std::vector<std::uint8_t>, SourceError> query_storage_descriptor(
    DevicePlatform& platform, DeviceHandle handle) {
  const auto query = storage_property_query(layout::kStorageDeviceProperty);
  std::array<std::uint8_t, layout::kDescriptorHeaderSize> header{};
  auto returned = platform.control(handle, DeviceControl::QueryStorageProperty, query, header);
  if (!returned) return std::unexpected(platform.source_error(returned.error()));
  const std::uint32_t size = read_u32_le(header, layout::kDescriptorHeaderSizeField).value_or(0);
  if (size < layout::kMinDescriptorSize || size > layout::kMaxDescriptorSize) {
    return std::unexpected(SourceError::io(
        "invalid STORAGE_DEVICE_DESCRIPTOR size: " + std::to_string(size), IoErrorKind::InvalidData));
  }
  std::vector<std::uint8_t> descriptor(size, 0);
  returned = platform.control(handle, DeviceControl::QueryStorageProperty, query, descriptor);
  if (!returned) return std::unexpected(platform.source_error(returned.error()));
  if (*returned < layout::kDeviceDescriptorFixedSize) {
    return std::unexpected(SourceError::io("short storage descriptor", IoErrorKind::UnexpectedEof));
  }
  return descriptor;
}

}  // namespace

std::expected<DeviceInfo, SourceError> describe_device(DevicePlatform& platform,
                                                       DeviceHandle handle,
                                                       std::uint32_t drive_number) {
  DeviceInfo info;
  info.system_disk_status = query_system_disk_status(platform, drive_number);

  auto length = query_length(platform, handle);
  if (!length) return std::unexpected(length.error());
  info.capacity_bytes = *length;

  auto sizes = query_alignment(platform, handle);
  if (!sizes) {
    auto geometry = query_geometry(platform, handle);
    if (!geometry) return std::unexpected(geometry.error());
    sizes = *geometry;
  }
  info.logical_sector_size = sizes->logical;
  info.physical_sector_size = sizes->physical;

  auto descriptor = query_storage_descriptor(platform, handle);
  if (!descriptor) return std::unexpected(descriptor.error());
  const auto field = [&descriptor](std::size_t at) {
    return read_u32_le(*descriptor, at).value_or(0);
  };
  info.vendor_id = descriptor_string(*descriptor, field(layout::kDescriptorVendorOffset));
  info.product_id = descriptor_string(*descriptor, field(layout::kDescriptorProductOffset));
  info.serial_number = descriptor_string(*descriptor, field(layout::kDescriptorSerialOffset));
  info.bus_type_code = field(layout::kDescriptorBusType);
  info.bus_type = bus_type_from_code(info.bus_type_code);

  std::tie(info.stable_id, info.identity_stability) = stable_identity(
      info.bus_type, info.vendor_id, info.product_id, info.serial_number, drive_number);
  info.physical_drive_number = drive_number;
  return info;
}

std::expected<DeviceInfo, SourceError> describe_physical_drive(DevicePlatform& platform,
                                                               std::uint32_t drive_number) {
  if (auto refused = refuse_system_disk(platform, drive_number); !refused) {
    return std::unexpected(refused.error());
  }
  std::expected<DeviceInfo, SourceError> info;
  {
    auto drive =
        open_device(platform, DevicePath::physical_drive(drive_number), DeviceAccess::Read);
    if (!drive) return std::unexpected(drive.error());
    info = describe_device(platform, drive->get(), drive_number);
  }
  if (!info) return info;
  if (auto readable = check_readable(*info); !readable) return std::unexpected(readable.error());
  return info;
}

std::expected<DeviceInfo, SourceError> describe_volume(DevicePlatform& platform, char32_t letter) {
  auto normalised = normalise_drive_letter(letter);
  if (!normalised) return std::unexpected(normalised.error());
  const DevicePath path = DevicePath::volume(*normalised);

  std::uint32_t drive_number = 0;
  {
    auto volume = open_device(platform, path, DeviceAccess::Query);
    if (!volume) return std::unexpected(volume.error());
    auto number = query_device_number(platform, volume->get());
    if (!number) return std::unexpected(number.error());
    drive_number = *number;
  }
  if (auto refused = refuse_system_disk(platform, drive_number); !refused) {
    return std::unexpected(refused.error());
  }
  std::expected<DeviceInfo, SourceError> info;
  {
    auto volume = open_device(platform, path, DeviceAccess::Read);
    if (!volume) return std::unexpected(volume.error());
    info = describe_device(platform, volume->get(), drive_number);
  }
  if (!info) return info;
  if (auto readable = check_readable(*info); !readable) return std::unexpected(readable.error());
  return info;
}

}  // namespace kestrel
