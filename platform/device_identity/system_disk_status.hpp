#pragma once

#include <cstdint>
#include <expected>

#include "platform/device_platform.hpp"
#include "recovery-core/source/device_info.hpp"

namespace kestrel {

// Whether physical drive N holds the running operating system, asked now.
// Never fails: anything that stands in the way of an answer gives Unknown,
// which the guards refuse. A system directory named by a drive letter is
// placed through that volume's device number; one rooted at "/" (a system
// without letters) through the disks the platform names as holding it.
SystemDiskStatus query_system_disk_status(DevicePlatform& platform, std::uint32_t drive_number);

// The status asked now, as a guard: the system disk is refused, and so is a
// disk whose status cannot be established.
std::expected<void, SourceError> refuse_system_disk(DevicePlatform& platform,
                                                    std::uint32_t drive_number);

}  // namespace kestrel
