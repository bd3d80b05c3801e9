#pragma once

#include <optional>
#include <string>

#include "platform/linux/block_device_catalog.hpp"
#include "platform/linux/linux_system_paths.hpp"

namespace kestrel {

// The file system label and type udev recorded for a block device.
struct VolumeProperties {
  std::optional<std::string> label;
  std::optional<std::string> file_system;
};

// Reads udev's database entry of the device; absent when udev keeps none.
std::optional<VolumeProperties> read_udev_volume_properties(const LinuxSystemPaths& paths,
                                                            BlockDeviceNumber device);

// Undoes udev's \xHH escapes (as in ID_FS_LABEL_ENC).
std::string decode_udev_escapes(std::string_view text);

}  // namespace kestrel
