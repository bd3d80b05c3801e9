#pragma once

#include <cstdint>
#include <memory>

#include "platform/device_platform.hpp"

namespace kestrel {

// The device platform of Windows, on kernel32:
//
// - open: CreateFileW on the device path, with access 0 (queries) or
//   GENERIC_READ, sharing read and write; close: CloseHandle;
// - the device queries: the storage IOCTLs through DeviceIoControl, their
//   answers parsed by platform/windows/ioctl/;
// - read_at: SetFilePointerEx then one ReadFile, through a page-aligned
//   buffer of its own when the caller's is not page-aligned (a raw disk read
//   may require one); still one positioning and one read per call;
// - system_directory: GetSystemWindowsDirectoryW; logical_drives:
//   GetLogicalDrives; volume_information: GetVolumeInformationW on "L:\";
//   available_space: GetVolumePathNameW then GetDiskFreeSpaceW;
// - physical_drives_holding: the volume that holds the path
//   (GetVolumePathNameW); none for a network share; for a drive root the
//   device number of \\.\X:, for a volume mounted in a folder that of the
//   volume (GetVolumeNameForVolumeMountPointW), or, for a volume spanning
//   disks, every disk of its extents.
//
// A device call's GetLastError code becomes its source error (access denied
// and the codes of a vanished device their own kinds); a service's code the
// generic kind with the system's text.
class WindowsDevicePlatform final : public DevicePlatform {
 public:
  WindowsDevicePlatform();
  ~WindowsDevicePlatform() override;
  WindowsDevicePlatform(const WindowsDevicePlatform&) = delete;
  WindowsDevicePlatform& operator=(const WindowsDevicePlatform&) = delete;

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
  struct AlignedBuffer;
  std::unique_ptr<AlignedBuffer> read_buffer_;
};

}  // namespace kestrel
