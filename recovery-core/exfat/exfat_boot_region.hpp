#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/chains/volume_geometry.hpp"
#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// The exFAT boot-region checksum over the first 11 sectors of a region:
// rotate right by one and add each byte, skipping VolumeFlags (bytes 106-107)
// and PercentInUse (byte 112).
std::uint32_t exfat_boot_checksum(std::span<const std::uint8_t> first_eleven_sectors);

// A region of 12 sectors is valid when it carries the exFAT name and every
// 32-bit word of its 12th sector holds the checksum of the first 11.
bool is_valid_exfat_boot_region(std::span<const std::uint8_t> region, std::uint32_t sector_bytes);

// What the boot regions of an exFAT volume tell the scanner.
struct ExfatBoot {
  ExfatVolume volume;
  std::uint32_t root_cluster = 0;
  BootValidation validation;
};

// Checks the main and backup boot regions of the exFAT volume whose first
// sector (`first_sector`) lies at `partition_offset`, picks the region to
// trust, and derives the geometry from it.
//
// The sector size comes from the first sector: it is what locates the backup
// region, so a backup that claims another sector size is not trusted. The
// cluster size comes from the region that is used.
std::expected<ExfatBoot, RecoveryError> read_exfat_boot_region(
    ByteSource& source, std::span<const std::uint8_t> first_sector,
    std::uint64_t partition_offset, std::uint64_t source_length);

}  // namespace kestrel
