#include "platform/device_identity/owned_device_handle.hpp"

#include <utility>

#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

OwnedDeviceHandle::OwnedDeviceHandle(OwnedDeviceHandle&& other) noexcept
    : platform_(std::exchange(other.platform_, nullptr)), handle_(other.handle_) {}

OwnedDeviceHandle& OwnedDeviceHandle::operator=(OwnedDeviceHandle&& other) noexcept {
  if (this != &other) {
    close();
    platform_ = std::exchange(other.platform_, nullptr);
    handle_ = other.handle_;
  }
  return *this;
}

void OwnedDeviceHandle::close() {
  if (platform_ != nullptr) std::exchange(platform_, nullptr)->close(handle_);
}

std::expected<OwnedDeviceHandle, SourceError> open_device(DevicePlatform& platform,
                                                          const DevicePath& path,
                                                          DeviceAccess access) {
  KESTREL_TRY_ASSIGN(handle, platform.open(path, access));
  return OwnedDeviceHandle(platform, *handle);
}

}  // namespace kestrel
