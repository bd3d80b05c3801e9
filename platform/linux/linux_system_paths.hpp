#pragma once

#include <filesystem>

namespace kestrel {

// Where the Linux backend finds what the kernel and udev publish. Real use
// takes the defaults; tests point them at a prepared tree.
struct LinuxSystemPaths {
  std::filesystem::path sysfs = "/sys";
  std::filesystem::path dev = "/dev";
  std::filesystem::path udev_data = "/run/udev/data";
  std::filesystem::path mountinfo = "/proc/self/mountinfo";
};

}  // namespace kestrel
