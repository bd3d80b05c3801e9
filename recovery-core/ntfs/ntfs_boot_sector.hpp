#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// What an NTFS boot sector says about its volume, checked to be one a
// formatter could have written: sector size 256..4096, cluster and record
// sizes powers of two, the MFT inside the volume.
struct NtfsBootSector {
  std::uint32_t bytes_per_sector = 0;
  std::uint32_t cluster_size = 0;        // bytes
  std::uint64_t total_sectors = 0;       // the volume's sectors, the backup boot sector's excluded
  std::uint64_t mft_cluster = 0;         // first cluster of $MFT
  std::uint64_t mft_mirror_cluster = 0;  // first cluster of $MFTMirr
  std::uint32_t record_size = 0;         // bytes per MFT record
  std::uint64_t serial = 0;

  std::uint64_t cluster_count() const { return total_sectors * bytes_per_sector / cluster_size; }
};

// Whether the sector names itself NTFS ("NTFS    " at byte 3) and ends with the
// boot signature; nothing else is looked at.
bool names_ntfs(std::span<const std::uint8_t> sector);

// The boot sector read and checked; the invalid-structure error says which
// field a formatter could not have written.
std::expected<NtfsBootSector, RecoveryError> parse_ntfs_boot_sector(
    std::span<const std::uint8_t> sector);

}  // namespace kestrel
