#pragma once

#include <cstdint>
#include <expected>

#include "platform/device_platform.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// The physical drive number an open handle (a physical drive or a volume)
// sits on, from its STORAGE_DEVICE_NUMBER.
std::expected<std::uint32_t, SourceError> query_device_number(DevicePlatform& platform,
                                                              DeviceHandle handle);

// The physical drive number behind a drive letter: the volume is opened for
// queries only, asked for its device number and closed.
std::expected<std::uint32_t, SourceError> volume_device_number(DevicePlatform& platform,
                                                               char32_t letter);

}  // namespace kestrel
