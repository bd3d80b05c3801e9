#include "platform/device_identity/system_disk_status.hpp"

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "platform/device_identity/device_number.hpp"
#include "os/file_system.hpp"
#include "recovery-core/text/utf16.hpp"

namespace kestrel {

namespace {

constexpr std::uint32_t kSystemDirectoryBufferUnits = 32768;

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

SystemDiskStatus query_system_disk_status(DevicePlatform& platform, std::uint32_t drive_number) {
  std::vector<char16_t> buffer(kSystemDirectoryBufferUnits);
  const std::uint32_t units = platform.system_directory(buffer);
  if (units == 0 || units >= kSystemDirectoryBufferUnits) return SystemDiskStatus::Unknown;
  const std::string directory =
      decode_utf16_lossy(std::span<const char16_t>(buffer).first(units));

  if (directory.size() >= 2 && directory[1] == ':' && is_ascii_letter(directory[0])) {
    auto number = volume_device_number(platform, static_cast<unsigned char>(directory[0]));
    if (!number) return SystemDiskStatus::Unknown;
    return *number == drive_number ? SystemDiskStatus::ConfirmedSystem
                                   : SystemDiskStatus::ConfirmedNonSystem;
  }

  // Only a system without drive letters names its directory from the root of
  // one tree ("/"); there the disks holding that directory answer. On a
  // lettered system a directory without a letter (a share, a volume GUID
  // path) leaves the system disk unknown, however the platform could place it.
  if (!directory.starts_with('/')) return SystemDiskStatus::Unknown;
  auto holders = platform.physical_drives_holding(path_from_text(directory));
  if (!holders || holders->empty()) return SystemDiskStatus::Unknown;
  return std::ranges::find(*holders, drive_number) != holders->end()
             ? SystemDiskStatus::ConfirmedSystem
             : SystemDiskStatus::ConfirmedNonSystem;
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
