#include "recovery-core/exfat/exfat_boot_region.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/exfat/exfat_messages.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

constexpr std::size_t kBytesPerSectorShift = 108;
constexpr std::size_t kSectorsPerClusterShift = 109;
constexpr std::uint8_t kMinSectorShift = 9;
constexpr std::uint8_t kMaxSectorShift = 12;
constexpr std::uint8_t kMaxClusterShift = 25;
constexpr std::uint64_t kRegionSectors = 12;
constexpr std::string_view kExfatName = "EXFAT   ";

// Byte ranges [first, last] that must agree between a valid main and backup
// region: the name, the volume fields from the partition offset to the
// revision, the shifts, FAT count and drive select, and the reserved bytes.
constexpr std::array<std::pair<std::size_t, std::size_t>, 4> kComparedLayout = {{
    {3, 10},
    {64, 105},
    {108, 111},
    {113, 119},
}};

RecoveryError invalid_shifts() { return RecoveryError::invalid_structure(std::string(kInvalidExfatShifts)); }

bool has_exfat_name(std::span<const std::uint8_t> bytes) {
  return bytes.size() > 10 && std::memcmp(bytes.data() + 3, kExfatName.data(), kExfatName.size()) == 0;
}

bool layouts_agree(std::span<const std::uint8_t> main, std::span<const std::uint8_t> backup) {
  return std::ranges::all_of(kComparedLayout, [&](const auto& range) {
    const auto [first, last] = range;
    return std::equal(main.begin() + static_cast<std::ptrdiff_t>(first),
                      main.begin() + static_cast<std::ptrdiff_t>(last + 1),
                      backup.begin() + static_cast<std::ptrdiff_t>(first));
  });
}

std::expected<std::vector<std::uint8_t>, RecoveryError> read_region(ByteSource& source,
                                                                    std::uint64_t offset,
                                                                    std::size_t length) {
  std::vector<std::uint8_t> region(length);
  if (auto read = read_exact(source, offset, region); !read) return std::unexpected(read.error());
  return region;
}

}  // namespace

std::uint32_t exfat_boot_checksum(std::span<const std::uint8_t> first_eleven_sectors) {
  std::uint32_t checksum = 0;
  for (std::size_t i = 0; i < first_eleven_sectors.size(); ++i) {
    if (i == 106 || i == 107 || i == 112) continue;
    checksum = ((checksum & 1u) != 0 ? 0x80000000u : 0u) + (checksum >> 1) + first_eleven_sectors[i];
  }
  return checksum;
}

bool is_valid_exfat_boot_region(std::span<const std::uint8_t> region, std::uint32_t sector_bytes) {
  if (sector_bytes == 0 || region.size() < kRegionSectors * sector_bytes) return false;
  if (!has_exfat_name(region)) return false;
  const std::size_t checksum_sector = 11 * std::size_t{sector_bytes};
  const std::uint32_t checksum = exfat_boot_checksum(region.first(checksum_sector));
  for (std::size_t word = 0; word < sector_bytes / 4; ++word) {
    auto stored = read_u32_le(region, checksum_sector + 4 * word);
    if (!stored || *stored != checksum) return false;
  }
  return true;
}

std::expected<ExfatBoot, RecoveryError> read_exfat_boot_region(
    ByteSource& source, std::span<const std::uint8_t> first_sector,
    std::uint64_t partition_offset, std::uint64_t source_length) {
  auto sector_shift = read_u8(first_sector, kBytesPerSectorShift);
  if (!sector_shift) return std::unexpected(sector_shift.error());
  if (*sector_shift < kMinSectorShift || *sector_shift > kMaxSectorShift) {
    return std::unexpected(invalid_shifts());
  }
  const std::uint32_t sector_bytes = 1u << *sector_shift;
  const std::size_t region_size = kRegionSectors * sector_bytes;

  if (auto fits = check_range(source_length, partition_offset, 2 * region_size); !fits) {
    return std::unexpected(fits.error());
  }
  auto main = read_region(source, partition_offset, region_size);
  if (!main) return std::unexpected(main.error());
  auto backup = read_region(source, partition_offset + region_size, region_size);
  if (!backup) return std::unexpected(backup.error());

  const bool main_valid = is_valid_exfat_boot_region(*main, sector_bytes);
  // The backup was located with the first sector's sector size; a backup that
  // claims another one describes a different layout and is not trusted.
  const bool backup_valid = is_valid_exfat_boot_region(*backup, sector_bytes) &&
                            (*backup)[kBytesPerSectorShift] == *sector_shift;

  ExfatBoot boot;
  boot.validation.main_boot_checksum_valid = main_valid;
  boot.validation.backup_boot_checksum_valid = backup_valid;
  const std::vector<std::uint8_t>* chosen = nullptr;
  if (main_valid && backup_valid) {
    if (!layouts_agree(*main, *backup)) {
      return std::unexpected(
          RecoveryError::invalid_structure(std::string(kExfatBootLayoutsDiffer)));
    }
    chosen = &*main;
  } else if (backup_valid) {
    chosen = &*backup;
    boot.validation.using_backup_boot = true;
  } else if (main_valid) {
    chosen = &*main;
  } else {
    return std::unexpected(RecoveryError::checksum_mismatch(std::string(kExfatBootRegionsChecksum)));
  }

  // The boot sector of the region in use; its cluster size is the one trusted.
  const std::span<const std::uint8_t> boot_sector(chosen->data(), sector_bytes);
  auto cluster_shift = read_u8(boot_sector, kSectorsPerClusterShift);
  if (!cluster_shift) return std::unexpected(cluster_shift.error());
  if (*cluster_shift > kMaxClusterShift) return std::unexpected(invalid_shifts());

  auto fat_sectors = read_u32_le(boot_sector, 80);
  auto heap_sectors = read_u32_le(boot_sector, 88);
  auto cluster_count = read_u32_le(boot_sector, 92);
  auto root_cluster = read_u32_le(boot_sector, 96);
  if (!fat_sectors) return std::unexpected(fat_sectors.error());
  if (!heap_sectors) return std::unexpected(heap_sectors.error());
  if (!cluster_count) return std::unexpected(cluster_count.error());
  if (!root_cluster) return std::unexpected(root_cluster.error());

  auto fat_offset = checked_add(partition_offset, std::uint64_t{*fat_sectors} << *sector_shift);
  if (!fat_offset) return std::unexpected(fat_offset.error());
  auto heap_offset = checked_add(partition_offset, std::uint64_t{*heap_sectors} << *sector_shift);
  if (!heap_offset) return std::unexpected(heap_offset.error());

  const std::uint64_t cluster_bytes = std::uint64_t{sector_bytes} << *cluster_shift;
  if (cluster_bytes > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(RecoveryError::byte_range_overflow());
  }
  auto heap_bytes = checked_mul(*cluster_count, cluster_bytes);
  if (!heap_bytes) return std::unexpected(heap_bytes.error());
  if (auto fits = check_range(source_length, *heap_offset, *heap_bytes); !fits) {
    return std::unexpected(fits.error());
  }

  boot.volume.fat_offset = *fat_offset;
  boot.volume.heap_offset = *heap_offset;
  boot.volume.bytes_per_sector = sector_bytes;
  boot.volume.sectors_per_cluster = 1u << *cluster_shift;
  boot.volume.cluster_count = *cluster_count;
  boot.root_cluster = *root_cluster;
  return boot;
}

}  // namespace kestrel
