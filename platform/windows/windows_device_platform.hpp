#pragma once

#include <cstdint>
#include <memory>

#include "platform/device_platform.hpp"

namespace kestrel {

// The device platform of Windows: every member is the kernel32 call the
// interface names (see platform/device_platform.hpp), with Win32 error codes
// from GetLastError.
//
// Two members do more than one call:
// - read_at reads into a page-aligned buffer of its own when the caller's
//   buffer is not page-aligned, since a raw disk read may require an aligned
//   buffer; the bytes are then copied out (still one SetFilePointerEx and one
//   ReadFile per read);
// - physical_drives_holding finds the volume that holds a path
//   (GetVolumePathNameW, 261 units): no disk for a network share; for a
//   drive root "X:\" the device number of \\.\X:; for a volume mounted in a
//   folder the device number of that volume (GetVolumeNameForVolumeMountPointW,
//   then IOCTL_STORAGE_GET_DEVICE_NUMBER on \\?\Volume{...}), or, for a volume
//   that spans disks, every disk of its extents.
class WindowsDevicePlatform final : public DevicePlatform {
 public:
  WindowsDevicePlatform();
  ~WindowsDevicePlatform() override;
  WindowsDevicePlatform(const WindowsDevicePlatform&) = delete;
  WindowsDevicePlatform& operator=(const WindowsDevicePlatform&) = delete;

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
  struct AlignedBuffer;
  std::unique_ptr<AlignedBuffer> read_buffer_;
};

}  // namespace kestrel
