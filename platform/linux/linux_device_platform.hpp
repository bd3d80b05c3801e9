#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "platform/device_platform.hpp"
#include "platform/linux/block_device_catalog.hpp"
#include "platform/linux/linux_system_paths.hpp"
#include "platform/linux/unique_fd.hpp"

namespace kestrel {

// The device platform of Linux. It answers the device queries with the
// structures the rules expect, built from block-device ioctls and sysfs:
//
// - physical drive N is the disk whose disk sequence number (diskseq) is N,
//   found by scanning /sys/block and opened through its /dev node;
// - volume letters follow letter_volumes (disks by sequence number, then
//   partitions by number; only volumes with a medium);
// - lengths and sector sizes come from BLKGETSIZE64, BLKSSZGET, BLKPBSZGET;
//   vendor, product, serial and bus from sysfs; the device number of a
//   handle is the sequence number of the disk it sits on;
// - the system directory is "/", answered through the disks that hold it;
// - a handle is bound to the medium it was opened on: once the disk's
//   sequence number changes (another medium) or the disk is gone, every query
//   and read on it fails with ENOMEDIUM or ENODEV;
// - handles opened for reading use O_DIRECT; reads go through a buffer
//   aligned to the logical sector size, so a bad sector costs that sector only.
class LinuxDevicePlatform final : public DevicePlatform {
 public:
  explicit LinuxDevicePlatform(LinuxSystemPaths paths = {});
  ~LinuxDevicePlatform() override;

  std::expected<DeviceHandle, PlatformError> open(const DevicePath& path,
                                                  DeviceAccess access) override;
  void close(DeviceHandle handle) override;
  std::expected<std::uint32_t, PlatformError> control(DeviceHandle handle, DeviceControl code,
                                                      std::span<const std::uint8_t> input,
                                                      std::span<std::uint8_t> output) override;
  std::expected<std::uint32_t, PlatformError> read_at(DeviceHandle handle, std::uint64_t offset,
                                                      std::span<std::uint8_t> buffer) override;
  std::uint32_t system_directory(std::span<char16_t> buffer) override;
  std::expected<std::vector<std::uint32_t>, PlatformError> physical_drives_holding(
      const std::filesystem::path& path) override;
  std::expected<std::uint32_t, PlatformError> logical_drives() override;
  bool volume_information(char letter, std::span<char16_t> label,
                          std::span<char16_t> file_system) override;
  std::expected<std::uint64_t, PlatformError> available_space(
      const std::filesystem::path& directory) override;
  SourceError source_error(PlatformError error) const override;
  std::string error_text(PlatformError error) const override;

 private:
  struct OpenDevice;

  OpenDevice* find(DeviceHandle handle);
  // Fails with ENODEV when the node no longer belongs to the disk it was
  // opened on, ENOMEDIUM when that disk now holds another medium.
  std::expected<void, PlatformError> check_same_medium(const OpenDevice& device) const;

  LinuxSystemPaths paths_;
  std::map<std::uint64_t, std::unique_ptr<OpenDevice>> open_;
  std::uint64_t next_handle_ = 1;
};

}  // namespace kestrel
