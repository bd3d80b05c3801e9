#include "platform/device_platform.hpp"

namespace kestrel {

std::string DevicePath::text() const {
  if (kind == Kind::PhysicalDrive) return "\\\\.\\PhysicalDrive" + std::to_string(drive_number);
  return std::string("\\\\.\\") + letter + ":";
}

std::string system_text(const SourceError& service_failure) {
  return service_failure.io_failure().message();
}

}  // namespace kestrel
