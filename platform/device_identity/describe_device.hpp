#pragma once

#include <cstdint>
#include <expected>

#include "platform/device_platform.hpp"
#include "recovery-core/source/device_info.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// Describes the device behind an open handle (a physical drive or a volume)
// that sits on physical drive N. Queries, in this order: the system-disk
// status of N; the length; the sector sizes from the access alignment
// descriptor, or from the drive geometry when that query fails, answers short
// or reports a logical sector size of 0 (the physical sector size is then
// absent); the storage descriptor's size, then the descriptor itself, whose
// texts and bus type complete the description. No guard is applied here.
std::expected<DeviceInfo, SourceError> describe_device(DevicePlatform& platform,
                                                       DeviceHandle handle,
                                                       std::uint32_t drive_number);

// Describes physical drive N: refused as the system disk (or when that cannot
// be established) before the drive is opened, then described through a read
// handle that is closed again, then guarded by check_readable.
std::expected<DeviceInfo, SourceError> describe_physical_drive(DevicePlatform& platform,
                                                               std::uint32_t drive_number);

// Describes the volume of a drive letter: its physical drive number from a
// query handle, the system-disk refusal, then every query on the volume's own
// read handle, then check_readable. The letter is not part of the description.
std::expected<DeviceInfo, SourceError> describe_volume(DevicePlatform& platform, char32_t letter);

}  // namespace kestrel
