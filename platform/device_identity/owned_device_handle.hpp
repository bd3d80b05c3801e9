#pragma once

#include <expected>

#include "platform/device_platform.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// A device handle with one owner: it is closed exactly once, when the owner
// lets go of it (or earlier through close()). Move-only.
class OwnedDeviceHandle {
 public:
  OwnedDeviceHandle() = default;
  OwnedDeviceHandle(DevicePlatform& platform, DeviceHandle handle)
      : platform_(&platform), handle_(handle) {}
  OwnedDeviceHandle(OwnedDeviceHandle&& other) noexcept;
  OwnedDeviceHandle& operator=(OwnedDeviceHandle&& other) noexcept;
  OwnedDeviceHandle(const OwnedDeviceHandle&) = delete;
  OwnedDeviceHandle& operator=(const OwnedDeviceHandle&) = delete;
  ~OwnedDeviceHandle() { close(); }

  bool is_open() const { return platform_ != nullptr; }
  DeviceHandle get() const { return handle_; }
  DevicePlatform& platform() const { return *platform_; }

  // Closes the handle now; nothing happens when it is already closed.
  void close();

 private:
  DevicePlatform* platform_ = nullptr;
  DeviceHandle handle_;
};

// Opens a device path, owned from then on.
std::expected<OwnedDeviceHandle, SourceError> open_device(DevicePlatform& platform,
                                                          const DevicePath& path,
                                                          DeviceAccess access);

}  // namespace kestrel
