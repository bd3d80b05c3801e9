#include "platform/device_identity/system_disk_status.hpp"

#include <algorithm>
#include <string>

#include "os/file_system.hpp"
#include "platform/device_identity/device_number.hpp"

namespace kestrel {

namespace {

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

SystemDiskStatus status_of(std::uint32_t drive_number,
                           std::span<const std::uint32_t> system_drives) {
  return std::ranges::find(system_drives, drive_number) != system_drives.end()
             ? SystemDiskStatus::ConfirmedSystem
             : SystemDiskStatus::ConfirmedNonSystem;
}

}  // namespace

SystemDiskStatus query_system_disk_status(DevicePlatform& platform, std::uint32_t drive_number) {
  const std::optional<std::string> directory = platform.system_directory();
  if (!directory) return SystemDiskStatus::Unknown;

  if (directory->size() >= 2 && (*directory)[1] == ':' && is_ascii_letter((*directory)[0])) {
    auto number = volume_device_number(platform, static_cast<unsigned char>((*directory)[0]));
    if (!number) return SystemDiskStatus::Unknown;
    return status_of(drive_number, std::span(&*number, 1));
  }

  // Only a system without drive letters names its directory from the root of
  // one tree ("/"); there the disks holding that directory answer. On a
  // lettered system a directory without a letter (a share, a volume GUID
  // path) leaves the system disk unknown, however the platform could place it.
  if (!directory->starts_with('/')) return SystemDiskStatus::Unknown;
  auto holders = platform.physical_drives_holding(path_from_text(*directory));
  if (!holders || holders->empty()) return SystemDiskStatus::Unknown;
  return status_of(drive_number, *holders);
}

std::expected<void, SourceError> refuse_system_disk(DevicePlatform& platform,
                                                    std::uint32_t drive_number) {
  switch (query_system_disk_status(platform, drive_number)) {
    case SystemDiskStatus::ConfirmedSystem:
      return std::unexpected(SourceError::system_disk_blocked());
    case SystemDiskStatus::Unknown:
      return std::unexpected(SourceError::system_disk_unknown());
    case SystemDiskStatus::ConfirmedNonSystem:
      return {};
  }
  return std::unexpected(SourceError::system_disk_unknown());
}

}  // namespace kestrel
