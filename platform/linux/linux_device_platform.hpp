#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "platform/device_platform.hpp"
#include "platform/linux/block_device_catalog.hpp"
#include "platform/linux/linux_system_paths.hpp"

namespace kestrel {

// The device platform of Linux, answering from block-device ioctls and sysfs
// (docs/devices-on-linux.md tells a user what that means):
//
// - physical drive N is the disk whose disk sequence number is N, opened
//   through its /dev node; volume letters follow letter_volumes;
// - a handle opened for queries only is answered from sysfs and needs no
//   rights on the device; a read handle opens the node read-only with
//   O_DIRECT and answers from the ioctls;
// - a handle stays bound to the medium it was opened on: once the disk is gone
//   or holds another medium (a new sequence number), every query and read on
//   it fails as a vanished device;
// - the system directory is "/", placed through the disks that hold it.
class LinuxDevicePlatform final : public DevicePlatform {
 public:
  explicit LinuxDevicePlatform(LinuxSystemPaths paths = {});
  ~LinuxDevicePlatform() override;

  std::expected<DeviceHandle, SourceError> open(const DevicePath& path,
                                                DeviceAccess access) override;
  void close(DeviceHandle handle) override;
  std::expected<std::uint64_t, SourceError> length(DeviceHandle handle) override;
  std::optional<AlignmentAnswer> access_alignment(DeviceHandle handle) override;
  std::expected<std::uint32_t, SourceError> geometry_sector_size(DeviceHandle handle) override;
  std::expected<StorageDescriptor, SourceError> storage_descriptor(DeviceHandle handle) override;
  std::expected<std::uint32_t, SourceError> device_number(DeviceHandle handle) override;
  std::expected<std::uint32_t, SourceError> read_at(DeviceHandle handle, std::uint64_t offset,
                                                    std::span<std::uint8_t> buffer) override;
  std::optional<std::string> system_directory() override;
  std::expected<std::vector<std::uint32_t>, SourceError> physical_drives_holding(
      const std::filesystem::path& path) override;
  std::expected<std::uint32_t, SourceError> logical_drives() override;
  std::optional<VolumeInformation> volume_information(char letter) override;
  std::expected<std::uint64_t, SourceError> available_space(
      const std::filesystem::path& directory) override;

 private:
  struct OpenDevice;

  // The device of a handle, still on the medium it was opened on.
  std::expected<OpenDevice*, SourceError> on_same_medium(DeviceHandle handle);
  std::expected<void, SourceError> check_same_medium(const OpenDevice& device) const;
  std::expected<std::unique_ptr<OpenDevice>, SourceError> locate(const DevicePath& path) const;
  std::expected<void, SourceError> open_node(OpenDevice& device) const;

  LinuxSystemPaths paths_;
  std::map<std::uint64_t, std::unique_ptr<OpenDevice>> open_;
  std::uint64_t next_handle_ = 1;
};

}  // namespace kestrel
