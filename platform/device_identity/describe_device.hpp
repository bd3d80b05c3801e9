#pragma once

#include <cstdint>
#include <expected>

#include "platform/device_platform.hpp"
#include "recovery-core/errors/source_error.hpp"
#include "recovery-core/source/device_info.hpp"

namespace kestrel {

// The device behind an open handle (a physical drive, or a volume lying on
// physical drive N) as it is now. No guard is applied; a failed query fails
// the whole description. The order of the queries is in docs/devices.md.
std::expected<DeviceInfo, SourceError> describe_device(DevicePlatform& platform,
                                                       DeviceHandle handle,
                                                       std::uint32_t drive_number);

// The same with a system-disk status the caller asked a moment ago, for a
// caller that has just refused on it: the status is asked once, not twice.
std::expected<DeviceInfo, SourceError> describe_device(DevicePlatform& platform,
                                                       DeviceHandle handle,
                                                       std::uint32_t drive_number,
                                                       SystemDiskStatus status);

// Physical drive N, described for imaging: refused as the system disk before
// it is opened, and only answered when check_readable passes.
std::expected<DeviceInfo, SourceError> describe_physical_drive(DevicePlatform& platform,
                                                               std::uint32_t drive_number);

// The volume of a drive letter, described through a handle of its own on the
// physical drive its device number names, with the same refusal and guards.
// The letter is not part of the description.
std::expected<DeviceInfo, SourceError> describe_volume(DevicePlatform& platform, char32_t letter);

}  // namespace kestrel
