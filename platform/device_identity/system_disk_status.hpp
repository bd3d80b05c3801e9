#pragma once

#include <cstdint>
#include <expected>

#include "platform/device_platform.hpp"
#include "recovery-core/source/device_info.hpp"

namespace kestrel {

// Whether physical drive N holds the running operating system, taken now.
// Never fails: whatever stands in the way of an answer gives Unknown, which
// the guards refuse (fail-closed).
//
// A system directory that starts with a drive letter is answered through that
// volume's device number. A directory rooted at "/" (a system without drive
// letters) is answered by the disks the platform names as holding it; when it
// names none, the answer is Unknown. Any other directory is Unknown.
SystemDiskStatus query_system_disk_status(DevicePlatform& platform, std::uint32_t drive_number);

// The status taken now as a guard: the system disk is blocked, an unknown
// status refuses too (fail-closed).
std::expected<void, SourceError> refuse_system_disk(DevicePlatform& platform,
                                                    std::uint32_t drive_number);

}  // namespace kestrel
