#include "platform/device_platform.hpp"

namespace kestrel {

std::string DevicePath::text() const {
  if (kind == Kind::PhysicalDrive) return "\\\\.\\PhysicalDrive" + std::to_string(drive_number);
  return std::string("\\\\.\\") + letter + ":";
}

}  // namespace kestrel
