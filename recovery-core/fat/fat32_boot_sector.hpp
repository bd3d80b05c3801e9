#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/fat/fat_geometry.hpp"

namespace kestrel {

// What the scanner takes from a FAT32 boot sector.
struct Fat32BootSector {
  FatGeometry volume;
  std::uint32_t root_cluster = 0;
  std::optional<std::string> label;  // absent when blank or "NO NAME"
};

// The volume label of `length` bytes at `offset` of a FAT boot sector, trimmed;
// absent when blank or "NO NAME".
std::optional<std::string> fat_volume_label(std::span<const std::uint8_t> sector,
                                            std::size_t offset, std::size_t length);

// True when the sector carries the FAT32 type name at byte 82.
bool is_fat32_boot_sector(std::span<const std::uint8_t> sector);

// Checks the BPB of the FAT32 volume whose first sector lies at
// `partition_offset` and derives its geometry. Errors: "invalid FAT32 BPB" for
// an unusable sector size, cluster size, FAT count or FAT size; "FAT32 data
// area underflow" when the FATs end past the volume; byte-range overflow; and
// the range error when the data area does not fit in the source.
std::expected<Fat32BootSector, RecoveryError> read_fat32_boot_sector(
    std::span<const std::uint8_t> sector, std::uint64_t partition_offset,
    std::uint32_t partition_index, std::uint64_t source_length);

}  // namespace kestrel
