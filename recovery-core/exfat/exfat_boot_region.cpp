#include "recovery-core/exfat/exfat_boot_region.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/exfat/exfat_messages.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

// Where the fields the scanner reads lie in an exFAT boot sector.
namespace boot_field {
constexpr std::size_t kFileSystemName = 3;
constexpr std::size_t kFatOffset = 80;          // u32, sectors into the volume
constexpr std::size_t kClusterHeapOffset = 88;  // u32, sectors into the volume
constexpr std::size_t kClusterCount = 92;       // u32
constexpr std::size_t kRootCluster = 96;        // u32, FirstClusterOfRootDirectory
constexpr std::size_t kVolumeFlags = 106;       // u16, outside the checksum
constexpr std::size_t kBytesPerSectorShift = 108;
constexpr std::size_t kSectorsPerClusterShift = 109;
constexpr std::size_t kPercentInUse = 112;  // outside the checksum
}  // namespace boot_field

constexpr std::string_view kExfatName = "EXFAT   ";
constexpr std::uint8_t kMinSectorShift = 9;
constexpr std::uint8_t kMaxSectorShift = 12;
constexpr std::uint8_t kMaxClusterShift = 25;
// A boot region is 12 sectors: 11 checksummed ones, then one full of the checksum.
constexpr std::uint64_t kRegionSectors = 12;
constexpr std::size_t kChecksummedSectors = 11;

// Byte ranges [first, last] that must agree between a valid main and backup
// region: the name, the volume fields from the partition offset to the
// revision, the shifts, FAT count and drive select, and the reserved bytes.
constexpr std::array<std::pair<std::size_t, std::size_t>, 4> kComparedLayout = {{
    {3, 10},
    {64, 105},
    {108, 111},
    {113, 119},
}};

RecoveryError invalid_shifts() {
  return RecoveryError::invalid_structure(std::string(kInvalidExfatShifts));
}

bool layouts_agree(std::span<const std::uint8_t> main, std::span<const std::uint8_t> backup) {
  return std::ranges::all_of(kComparedLayout, [&](const auto& range) {
    const auto [first, last] = range;
    return std::equal(main.begin() + static_cast<std::ptrdiff_t>(first),
                      main.begin() + static_cast<std::ptrdiff_t>(last + 1),
                      backup.begin() + static_cast<std::ptrdiff_t>(first));
  });
}

bool is_valid_boot_region(std::span<const std::uint8_t> region, std::uint32_t sector_bytes) {
  if (sector_bytes == 0 || region.size() < kRegionSectors * sector_bytes) return false;
  if (!is_exfat_boot_sector(region)) return false;
  const std::size_t checksum_sector = kChecksummedSectors * std::size_t{sector_bytes};
  const std::uint32_t checksum = exfat_boot_checksum(region.first(checksum_sector));
  for (std::size_t word = 0; word < sector_bytes / 4; ++word) {
    auto stored = read_u32_le(region, checksum_sector + 4 * word);
    if (!stored || *stored != checksum) return false;
  }
  return true;
}

// The sector size, as a shift, from the volume's first sector.
std::expected<std::uint8_t, RecoveryError> read_sector_shift(
    std::span<const std::uint8_t> first_sector) {
  KESTREL_TRY_ASSIGN(shift, read_u8(first_sector, boot_field::kBytesPerSectorShift));
  if (*shift < kMinSectorShift || *shift > kMaxSectorShift)
    return std::unexpected(invalid_shifts());
  return *shift;
}

struct BootRegions {
  std::vector<std::uint8_t> main;
  std::vector<std::uint8_t> backup;
};

// Both regions, read whole after checking that they lie inside the source.
std::expected<BootRegions, RecoveryError> read_boot_regions(ByteSource& source,
                                                            std::uint64_t partition_offset,
                                                            std::size_t region_size,
                                                            std::uint64_t source_length) {
  KESTREL_TRY(check_range(source_length, partition_offset, 2 * region_size));
  BootRegions regions{std::vector<std::uint8_t>(region_size),
                      std::vector<std::uint8_t>(region_size)};
  KESTREL_TRY(read_exact(source, partition_offset, regions.main));
  KESTREL_TRY(read_exact(source, partition_offset + region_size, regions.backup));
  return regions;
}

struct ChosenRegion {
  const std::vector<std::uint8_t>* region = nullptr;
  BootValidation validation;
};

// Which region to trust, from their checksums; both valid must also agree.
std::expected<ChosenRegion, RecoveryError> choose_region(const BootRegions& regions,
                                                         std::uint8_t sector_shift) {
  const std::uint32_t sector_bytes = 1u << sector_shift;
  const bool main_valid = is_valid_boot_region(regions.main, sector_bytes);
  // The backup was located with the first sector's sector size; a backup that
  // claims another one describes a different layout and is not trusted.
  const bool backup_valid = is_valid_boot_region(regions.backup, sector_bytes) &&
                            regions.backup[boot_field::kBytesPerSectorShift] == sector_shift;

  ChosenRegion chosen;
  chosen.validation.main_boot_checksum_valid = main_valid;
  chosen.validation.backup_boot_checksum_valid = backup_valid;
  if (main_valid && backup_valid) {
    if (!layouts_agree(regions.main, regions.backup)) {
      return std::unexpected(
          RecoveryError::invalid_structure(std::string(kExfatBootLayoutsDiffer)));
    }
    chosen.region = &regions.main;
  } else if (backup_valid) {
    chosen.region = &regions.backup;
    chosen.validation.using_backup_boot = true;
  } else if (main_valid) {
    chosen.region = &regions.main;
  } else {
    return std::unexpected(
        RecoveryError::checksum_mismatch(std::string(kExfatBootRegionsChecksum)));
  }
  return chosen;
}

struct VolumeFields {
  std::uint8_t cluster_shift = 0;
  std::uint32_t fat_sectors = 0;
  std::uint32_t heap_sectors = 0;
  std::uint32_t cluster_count = 0;
  std::uint32_t root_cluster = 0;
};

std::expected<VolumeFields, RecoveryError> read_volume_fields(
    std::span<const std::uint8_t> boot_sector) {
  using namespace boot_field;
  KESTREL_TRY_ASSIGN(cluster_shift, read_u8(boot_sector, kSectorsPerClusterShift));
  if (*cluster_shift > kMaxClusterShift) return std::unexpected(invalid_shifts());
  auto fat_sectors = read_u32_le(boot_sector, kFatOffset);
  auto heap_sectors = read_u32_le(boot_sector, kClusterHeapOffset);
  auto cluster_count = read_u32_le(boot_sector, kClusterCount);
  auto root_cluster = read_u32_le(boot_sector, kRootCluster);
  if (!fat_sectors) return std::unexpected(fat_sectors.error());
  if (!heap_sectors) return std::unexpected(heap_sectors.error());
  if (!cluster_count) return std::unexpected(cluster_count.error());
  if (!root_cluster) return std::unexpected(root_cluster.error());
  return VolumeFields{*cluster_shift, *fat_sectors, *heap_sectors, *cluster_count, *root_cluster};
}

// The geometry the boot sector describes, checked to fit in the source.
std::expected<ExfatGeometry, RecoveryError> volume_geometry(const VolumeFields& fields,
                                                            std::uint8_t sector_shift,
                                                            std::uint64_t partition_offset,
                                                            std::uint64_t source_length) {
  auto fat_offset =
      checked_add(partition_offset, std::uint64_t{fields.fat_sectors} << sector_shift);
  if (!fat_offset) return std::unexpected(fat_offset.error());
  auto heap_offset =
      checked_add(partition_offset, std::uint64_t{fields.heap_sectors} << sector_shift);
  if (!heap_offset) return std::unexpected(heap_offset.error());

  const std::uint32_t sector_bytes = 1u << sector_shift;
  const std::uint64_t cluster_bytes = std::uint64_t{sector_bytes} << fields.cluster_shift;
  if (cluster_bytes > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(RecoveryError::byte_range_overflow());
  }
  KESTREL_TRY_ASSIGN(heap_bytes, checked_mul(fields.cluster_count, cluster_bytes));
  KESTREL_TRY(check_range(source_length, *heap_offset, *heap_bytes));

  ExfatGeometry volume;
  volume.fat_offset = *fat_offset;
  volume.heap_offset = *heap_offset;
  volume.bytes_per_sector = sector_bytes;
  volume.sectors_per_cluster = 1u << fields.cluster_shift;
  volume.cluster_count = fields.cluster_count;
  return volume;
}

}  // namespace

bool is_exfat_boot_sector(std::span<const std::uint8_t> sector) {
  constexpr std::size_t kNameOffset = boot_field::kFileSystemName;
  return sector.size() >= kNameOffset + kExfatName.size() &&
         std::memcmp(sector.data() + kNameOffset, kExfatName.data(), kExfatName.size()) == 0;
}

std::uint32_t exfat_boot_checksum(std::span<const std::uint8_t> first_eleven_sectors) {
  using namespace boot_field;
  std::uint32_t checksum = 0;
  for (std::size_t i = 0; i < first_eleven_sectors.size(); ++i) {
    if (i == kVolumeFlags || i == kVolumeFlags + 1 || i == kPercentInUse) continue;
    checksum =
        ((checksum & 1u) != 0 ? 0x80000000u : 0u) + (checksum >> 1) + first_eleven_sectors[i];
  }
  return checksum;
}

std::expected<ExfatBoot, RecoveryError> read_exfat_boot_region(
    ByteSource& source, std::span<const std::uint8_t> first_sector, std::uint64_t partition_offset,
    std::uint64_t source_length) {
  KESTREL_TRY_ASSIGN(sector_shift, read_sector_shift(first_sector));
  const std::size_t region_size = kRegionSectors << *sector_shift;
  KESTREL_TRY_ASSIGN(regions,
                     read_boot_regions(source, partition_offset, region_size, source_length));
  KESTREL_TRY_ASSIGN(chosen, choose_region(*regions, *sector_shift));

  // Only the chosen region's first sector describes the volume.
  const std::span<const std::uint8_t> boot_sector(chosen->region->data(),
                                                  std::size_t{1} << *sector_shift);
  KESTREL_TRY_ASSIGN(fields, read_volume_fields(boot_sector));
  KESTREL_TRY_ASSIGN(volume,
                     volume_geometry(*fields, *sector_shift, partition_offset, source_length));
  return ExfatBoot{*volume, fields->root_cluster, chosen->validation};
}

}  // namespace kestrel
