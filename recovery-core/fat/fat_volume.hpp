#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <span>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/volume/volume.hpp"

namespace kestrel {

// The FAT family in the registry: FAT12 and FAT16, told apart from each other
// by their cluster count, and FAT32. The FAT12/16 room is asked first: its
// boot sector has a root directory region and a 16-bit FAT size, which a
// FAT32 boot sector never has.
bool recognises_fat12_16(std::span<const std::uint8_t> boot_sector);
std::expected<std::unique_ptr<Volume>, RecoveryError> open_fat12_16(
    ByteSource& source, std::span<const std::uint8_t> boot_sector, const VolumePlace& place);

bool recognises_fat32(std::span<const std::uint8_t> boot_sector);
std::expected<std::unique_ptr<Volume>, RecoveryError> open_fat32(
    ByteSource& source, std::span<const std::uint8_t> boot_sector, const VolumePlace& place);

}  // namespace kestrel
