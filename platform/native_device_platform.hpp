#pragma once

// The device platform of the system the tool was built for: the one the
// shipped binary runs on.
#ifdef _WIN32
#include "platform/windows/windows_device_platform.hpp"
namespace kestrel {
using NativeDevicePlatform = WindowsDevicePlatform;
}  // namespace kestrel
#else
#include "platform/linux/linux_device_platform.hpp"
namespace kestrel {
using NativeDevicePlatform = LinuxDevicePlatform;
}  // namespace kestrel
#endif
