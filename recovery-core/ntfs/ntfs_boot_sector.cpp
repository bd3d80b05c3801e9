#include "recovery-core/ntfs/ntfs_boot_sector.hpp"

#include <algorithm>
#include <bit>
#include <string>
#include <string_view>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/ntfs/ntfs_messages.hpp"

namespace kestrel {

namespace {

constexpr std::string_view kOemName = "NTFS    ";
constexpr std::size_t kOemOffset = 3;
constexpr std::size_t kSignatureOffset = 510;
constexpr std::uint32_t kLargestCluster = 2U * 1024 * 1024;
constexpr std::uint32_t kSmallestRecord = 256;
constexpr std::uint32_t kLargestRecord = 64U * 1024;

std::unexpected<RecoveryError> invalid(std::string_view what) {
  return std::unexpected(RecoveryError::invalid_structure(std::string(what)));
}

// Sectors per cluster: a count up to 128, or above it 2 to the power of 256
// minus the byte, the form that reaches clusters of 64 KiB and more.
std::uint64_t sectors_per_cluster(std::uint8_t stored) {
  if (stored <= 0x80) return stored;
  const unsigned power = 256U - stored;
  return power < 32 ? std::uint64_t{1} << power : 0;
}

// Bytes per MFT record from its signed byte: a count of clusters, or when
// negative 2 to the power of its magnitude.
std::uint64_t record_bytes(std::uint8_t stored, std::uint32_t cluster_size) {
  const auto value = static_cast<std::int8_t>(stored);
  if (value > 0) return std::uint64_t{static_cast<std::uint8_t>(value)} * cluster_size;
  const int power = -int{value};
  return power > 0 && power < 32 ? std::uint64_t{1} << power : 0;
}

}  // namespace

bool names_ntfs(std::span<const std::uint8_t> sector) {
  if (sector.size() < 512) return false;
  const auto name = sector.subspan(kOemOffset, kOemName.size());
  return std::equal(name.begin(), name.end(), kOemName.begin()) &&
         sector[kSignatureOffset] == 0x55 && sector[kSignatureOffset + 1] == 0xAA;
}

std::expected<NtfsBootSector, RecoveryError> parse_ntfs_boot_sector(
    std::span<const std::uint8_t> sector) {
  if (!names_ntfs(sector)) return invalid(kNtfsNotBootSector);
  NtfsBootSector boot;
  KESTREL_TRY_ASSIGN(bytes_per_sector, read_u16_le(sector, 11));
  KESTREL_TRY_ASSIGN(stored_spc, read_u8(sector, 13));
  KESTREL_TRY_ASSIGN(total_sectors, read_u64_le(sector, 40));
  KESTREL_TRY_ASSIGN(mft, read_u64_le(sector, 48));
  KESTREL_TRY_ASSIGN(mirror, read_u64_le(sector, 56));
  KESTREL_TRY_ASSIGN(stored_record, read_u8(sector, 64));
  KESTREL_TRY_ASSIGN(serial, read_u64_le(sector, 72));

  if (*bytes_per_sector < 256 || *bytes_per_sector > 4096 ||
      !std::has_single_bit(*bytes_per_sector)) {
    return invalid(kNtfsBadSectorSize);
  }
  const std::uint64_t cluster = sectors_per_cluster(*stored_spc) * *bytes_per_sector;
  if (cluster == 0 || cluster > kLargestCluster || !std::has_single_bit(cluster)) {
    return invalid(kNtfsBadClusterSize);
  }
  boot.bytes_per_sector = *bytes_per_sector;
  boot.cluster_size = static_cast<std::uint32_t>(cluster);
  const std::uint64_t record = record_bytes(*stored_record, boot.cluster_size);
  if (record < kSmallestRecord || record > kLargestRecord || !std::has_single_bit(record)) {
    return invalid(kNtfsBadRecordSize);
  }
  boot.record_size = static_cast<std::uint32_t>(record);
  // Volumes past 2^48 sectors do not exist; the bound keeps the products exact.
  if (*total_sectors == 0 || *total_sectors > (std::uint64_t{1} << 48)) {
    return invalid(kNtfsBadTotalSectors);
  }
  boot.total_sectors = *total_sectors;
  if (*mft >= boot.cluster_count() || *mirror >= boot.cluster_count()) {
    return invalid(kNtfsMftOutsideVolume);
  }
  boot.mft_cluster = *mft;
  boot.mft_mirror_cluster = *mirror;
  boot.serial = *serial;
  return boot;
}

}  // namespace kestrel
