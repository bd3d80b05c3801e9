#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <span>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/volume/volume.hpp"

namespace kestrel {

// exFAT in the registry: recognised by the "EXFAT   " name of its boot sector;
// opening checks both boot regions (see read_exfat_boot_region).
bool recognises_exfat(std::span<const std::uint8_t> boot_sector);
std::expected<std::unique_ptr<Volume>, RecoveryError> open_exfat(
    ByteSource& source, std::span<const std::uint8_t> boot_sector, const VolumePlace& place);

}  // namespace kestrel
