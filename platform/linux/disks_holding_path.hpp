#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <vector>

#include "platform/linux/block_device_catalog.hpp"
#include "platform/linux/linux_system_paths.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// The disk sequence numbers of every disk that holds a block device: the
// device's own disk (a partition's whole disk), then, through device-mapper
// and md slaves, every disk below it. Unknown devices contribute nothing.
std::vector<std::uint32_t> disks_holding_device(const LinuxSystemPaths& paths,
                                                BlockDeviceNumber device);

// The disks that hold a path: for a block device node the device itself,
// otherwise the file system it lives on (its st_dev; a file system whose
// st_dev is not a block device, such as btrfs, is found through the mount
// table's source device). Fails when the path cannot be examined.
std::expected<std::vector<std::uint32_t>, SourceError> disks_holding_path(
    const LinuxSystemPaths& paths, const std::filesystem::path& path);

}  // namespace kestrel
