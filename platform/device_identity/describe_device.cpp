#include "platform/device_identity/describe_device.hpp"

#include <tuple>

#include "platform/device_identity/drive_letter.hpp"
#include "platform/device_identity/owned_device_handle.hpp"
#include "platform/device_identity/reported_text.hpp"
#include "platform/device_identity/system_disk_status.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

struct SectorSizes {
  std::uint32_t logical = 0;
  std::optional<std::uint32_t> physical;
};

// The access alignment when it names a logical sector size, else the drive
// geometry (which then leaves the physical size unknown).
std::expected<SectorSizes, SourceError> query_sector_sizes(DevicePlatform& platform,
                                                           DeviceHandle handle) {
  if (const auto alignment = platform.access_alignment(handle);
      alignment && alignment->logical != 0) {
    SectorSizes sizes{alignment->logical, std::nullopt};
    if (alignment->physical != 0) sizes.physical = alignment->physical;
    return sizes;
  }
  KESTREL_TRY_ASSIGN(bytes_per_sector, platform.geometry_sector_size(handle));
  if (*bytes_per_sector == 0) return std::unexpected(SourceError::zero_logical_sector_size());
  return SectorSizes{*bytes_per_sector, std::nullopt};
}

void take_descriptor(DeviceInfo& info, const StorageDescriptor& descriptor) {
  info.vendor_id = reported_text(descriptor.vendor);
  info.product_id = reported_text(descriptor.product);
  info.serial_number = reported_text(descriptor.serial);
  info.bus_type_code = descriptor.bus_type_code;
  info.bus_type = bus_type_from_code(descriptor.bus_type_code);
}

std::expected<DeviceInfo, SourceError> readable(std::expected<DeviceInfo, SourceError> info) {
  if (!info) return info;
  KESTREL_TRY(check_readable(*info));
  return info;
}

// Opens the path for reading, describes what it leads to (on a drive the
// status was just confirmed for) and closes it again.
std::expected<DeviceInfo, SourceError> describe_path(DevicePlatform& platform,
                                                     const DevicePath& path,
                                                     std::uint32_t drive_number) {
  KESTREL_TRY_ASSIGN(device, open_device(platform, path, DeviceAccess::Read));
  return describe_device(platform, device->get(), drive_number,
                         SystemDiskStatus::ConfirmedNonSystem);
}

}  // namespace

std::expected<DeviceInfo, SourceError> describe_device(DevicePlatform& platform,
                                                       DeviceHandle handle,
                                                       std::uint32_t drive_number) {
  return describe_device(platform, handle, drive_number,
                         query_system_disk_status(platform, drive_number));
}

std::expected<DeviceInfo, SourceError> describe_device(DevicePlatform& platform,
                                                       DeviceHandle handle,
                                                       std::uint32_t drive_number,
                                                       SystemDiskStatus status) {
  DeviceInfo info;
  info.system_disk_status = status;
  KESTREL_TRY_ASSIGN(length, platform.length(handle));
  info.capacity_bytes = *length;
  KESTREL_TRY_ASSIGN(sizes, query_sector_sizes(platform, handle));
  info.logical_sector_size = sizes->logical;
  info.physical_sector_size = sizes->physical;
  KESTREL_TRY_ASSIGN(descriptor, platform.storage_descriptor(handle));
  take_descriptor(info, *descriptor);
  std::tie(info.stable_id, info.identity_stability) = stable_identity(
      info.bus_type, info.vendor_id, info.product_id, info.serial_number, drive_number);
  info.physical_drive_number = drive_number;
  return info;
}

std::expected<DeviceInfo, SourceError> describe_physical_drive(DevicePlatform& platform,
                                                               std::uint32_t drive_number) {
  KESTREL_TRY(refuse_system_disk(platform, drive_number));
  return readable(describe_path(platform, DevicePath::physical_drive(drive_number), drive_number));
}

std::expected<DeviceInfo, SourceError> describe_volume(DevicePlatform& platform, char32_t letter) {
  KESTREL_TRY_ASSIGN(normalised, normalise_drive_letter(letter));
  const DevicePath path = DevicePath::volume(*normalised);
  std::uint32_t drive_number = 0;
  {
    KESTREL_TRY_ASSIGN(volume, open_device(platform, path, DeviceAccess::Query));
    KESTREL_TRY_ASSIGN(number, platform.device_number(volume->get()));
    drive_number = *number;
  }
  KESTREL_TRY(refuse_system_disk(platform, drive_number));
  return readable(describe_path(platform, path, drive_number));
}

}  // namespace kestrel
