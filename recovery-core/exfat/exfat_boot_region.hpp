#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/exfat/exfat_geometry.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// True when the sector carries the exFAT file-system name at byte 3.
bool is_exfat_boot_sector(std::span<const std::uint8_t> sector);

// The 32-bit boot checksum of the bytes given (a region's first 11 sectors).
// VolumeFlags and PercentInUse are left out: they change while the volume is
// in use, and the checksum must not.
std::uint32_t exfat_boot_checksum(std::span<const std::uint8_t> first_eleven_sectors);

// What the scanner takes from an exFAT volume's boot regions.
struct ExfatBoot {
  ExfatGeometry volume;
  std::uint32_t root_cluster = 0;
  BootValidation validation;  // which regions passed, and which one is used
};

// Checks the main and the backup boot region of the exFAT volume whose first
// sector (`first_sector`) lies at `partition_offset`, chooses the region to
// trust and derives the volume geometry from it. The sector size always comes
// from `first_sector`, since it is what locates the backup; the cluster size
// and everything else from the chosen region.
std::expected<ExfatBoot, RecoveryError> read_exfat_boot_region(
    ByteSource& source, std::span<const std::uint8_t> first_sector, std::uint64_t partition_offset,
    std::uint64_t source_length);

}  // namespace kestrel
