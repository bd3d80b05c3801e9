#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/fat/fat32_boot_sector.hpp"

namespace kestrel {

// True when the sector is the boot sector of a FAT12 or FAT16 volume: a jump
// instruction, the boot signature, a BPB of plausible sizes with a root
// directory region and a 16-bit FAT size, and fewer than 65,525 clusters. The
// width follows from the cluster count alone (fewer than 4,085: FAT12); the
// type text a formatter writes into the sector is never read.
bool is_fat12_16_boot_sector(std::span<const std::uint8_t> sector);

// The geometry of the FAT12/16 volume whose boot sector (one that passed
// is_fat12_16_boot_sector) lies at `partition_offset`: its entry width, FAT,
// fixed root directory and data area. Clusters the FAT has no entry for are
// left out. Errors: "FAT16 data area underflow" (or FAT12) when the FATs and
// the root directory end past the volume, byte-range overflow, and the range
// error when the data area does not fit in the source.
std::expected<Fat32BootSector, RecoveryError> read_fat12_16_boot_sector(
    std::span<const std::uint8_t> sector, std::uint64_t partition_offset,
    std::uint32_t partition_index, std::uint64_t source_length);

}  // namespace kestrel
