#pragma once

#include <cstdint>
#include <expected>

#include "platform/device_platform.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// The physical drive number behind a drive letter, asked through a handle
// opened for queries only, which is closed again.
std::expected<std::uint32_t, SourceError> volume_device_number(DevicePlatform& platform,
                                                               char32_t letter);

}  // namespace kestrel
