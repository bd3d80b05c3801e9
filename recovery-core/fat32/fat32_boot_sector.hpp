#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include "recovery-core/chains/volume_geometry.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// What a FAT32 boot sector tells the scanner: where the FAT and the data area
// are, where the root directory starts, and the volume label.
struct Fat32BootSector {
  Fat32Volume volume;
  std::uint32_t root_cluster = 0;
  std::optional<std::string> label;  // absent when blank or "NO NAME"
};

// Reads and checks the BPB of a FAT32 boot sector found at `partition_offset`:
// "invalid FAT32 BPB" for a bad sector size, cluster size, FAT count or FAT
// size, "FAT32 data area underflow" when the data area would start past the
// volume's end, byte-range-overflow for arithmetic that overflows, and the
// range error when the data area runs past the end of the source.
std::expected<Fat32BootSector, RecoveryError> read_fat32_boot_sector(
    std::span<const std::uint8_t> sector, std::uint64_t partition_offset,
    std::uint32_t partition_index, std::uint64_t source_length);

}  // namespace kestrel
