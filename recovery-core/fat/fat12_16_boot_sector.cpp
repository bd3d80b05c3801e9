#include "recovery-core/fat/fat12_16_boot_sector.hpp"

#include <bit>
#include <optional>
#include <string>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/fat/fat_messages.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

// Where the fields lie in a FAT12/16 boot sector (the BPB of DOS 3.31 and the
// extended boot record after it).
namespace boot_field {
constexpr std::size_t kBytesPerSector = 11;     // u16
constexpr std::size_t kSectorsPerCluster = 13;  // u8
constexpr std::size_t kReservedSectors = 14;    // u16
constexpr std::size_t kFatCount = 16;           // u8
constexpr std::size_t kRootEntries = 17;        // u16
constexpr std::size_t kTotalSectors16 = 19;     // u16, 0 when the 32-bit count is used
constexpr std::size_t kMedia = 21;              // u8
constexpr std::size_t kFatSectors = 22;         // u16
constexpr std::size_t kTotalSectors32 = 32;     // u32
constexpr std::size_t kExtendedSignature = 38;  // u8, 0x29 when the label below is present
constexpr std::size_t kVolumeLabel = 43;
constexpr std::size_t kVolumeLabelLength = 11;
constexpr std::size_t kBootSignature = 510;  // u16, 0xAA55
}  // namespace boot_field

constexpr std::uint32_t kFat12Limit = 4085;   // a volume with fewer clusters is FAT12
constexpr std::uint32_t kFat16Limit = 65525;  // and with fewer than this, FAT16
constexpr std::uint32_t kDirectoryEntryBytes = 32;

struct SmallFatBpb {
  std::uint32_t bytes_per_sector = 0;
  std::uint32_t sectors_per_cluster = 0;
  std::uint32_t reserved_sectors = 0;
  std::uint32_t fat_count = 0;
  std::uint32_t root_entries = 0;
  std::uint32_t fat_sectors = 0;
  std::uint32_t total_sectors = 0;

  std::uint64_t root_sectors() const {
    return (std::uint64_t{root_entries} * kDirectoryEntryBytes + bytes_per_sector - 1) /
           bytes_per_sector;
  }
  // Sectors from the volume's start to cluster 2.
  std::uint64_t data_start() const {
    return std::uint64_t{reserved_sectors} + std::uint64_t{fat_count} * fat_sectors +
           root_sectors();
  }
  // Clusters of the data area; 0 when the data area would start past the end.
  std::uint32_t cluster_count() const {
    if (total_sectors <= data_start()) return 0;
    return static_cast<std::uint32_t>((total_sectors - data_start()) / sectors_per_cluster);
  }
};

SmallFatBpb read_bpb(std::span<const std::uint8_t> sector) {
  using namespace boot_field;
  SmallFatBpb bpb;
  bpb.bytes_per_sector = load_le<std::uint16_t>(sector, kBytesPerSector);
  bpb.sectors_per_cluster = load_le<std::uint8_t>(sector, kSectorsPerCluster);
  bpb.reserved_sectors = load_le<std::uint16_t>(sector, kReservedSectors);
  bpb.fat_count = load_le<std::uint8_t>(sector, kFatCount);
  bpb.root_entries = load_le<std::uint16_t>(sector, kRootEntries);
  bpb.fat_sectors = load_le<std::uint16_t>(sector, kFatSectors);
  const std::uint16_t total16 = load_le<std::uint16_t>(sector, kTotalSectors16);
  bpb.total_sectors = total16 != 0 ? total16 : load_le<std::uint32_t>(sector, kTotalSectors32);
  return bpb;
}

bool is_plausible(const SmallFatBpb& bpb) {
  return bpb.bytes_per_sector >= 512 && bpb.bytes_per_sector <= 4096 &&
         std::has_single_bit(bpb.bytes_per_sector) && bpb.sectors_per_cluster != 0 &&
         std::has_single_bit(bpb.sectors_per_cluster) && bpb.reserved_sectors != 0 &&
         bpb.fat_count != 0 && bpb.root_entries != 0 && bpb.fat_sectors != 0 &&
         bpb.total_sectors != 0;
}

FatWidth width_of(const SmallFatBpb& bpb) {
  return bpb.cluster_count() < kFat12Limit ? FatWidth::Fat12 : FatWidth::Fat16;
}

// How many clusters past the two reserved entries one FAT has entries for.
std::uint64_t clusters_in_fat(const SmallFatBpb& bpb, FatWidth width) {
  const std::uint64_t bits = std::uint64_t{bpb.fat_sectors} * bpb.bytes_per_sector * 8;
  const std::uint64_t entries = bits / (width == FatWidth::Fat12 ? 12 : 16);
  return entries > 2 ? entries - 2 : 0;
}

std::optional<std::string> volume_label(std::span<const std::uint8_t> sector) {
  if (load_le<std::uint8_t>(sector, boot_field::kExtendedSignature) != 0x29) return std::nullopt;
  return fat_volume_label(sector, boot_field::kVolumeLabel, boot_field::kVolumeLabelLength);
}

}  // namespace

bool is_fat12_16_boot_sector(std::span<const std::uint8_t> sector) {
  if (sector.size() < 512) return false;
  const std::uint8_t jump = sector[0];
  if (jump != 0xEB && jump != 0xE9) return false;
  if (load_le<std::uint16_t>(sector, boot_field::kBootSignature) != 0xAA55) return false;
  const std::uint8_t media = sector[boot_field::kMedia];
  if (media != 0xF0 && media < 0xF8) return false;
  const SmallFatBpb bpb = read_bpb(sector);
  if (!is_plausible(bpb)) return false;
  const std::uint32_t clusters = bpb.cluster_count();
  return clusters != 0 && clusters < kFat16Limit;
}

std::expected<Fat32BootSector, RecoveryError> read_fat12_16_boot_sector(
    std::span<const std::uint8_t> sector, std::uint64_t partition_offset,
    std::uint32_t partition_index, std::uint64_t source_length) {
  const SmallFatBpb bpb = read_bpb(sector);
  const FatWidth width = width_of(bpb);
  if (!is_plausible(bpb) || bpb.total_sectors <= bpb.data_start()) {
    return std::unexpected(RecoveryError::invalid_structure(
        std::string(width == FatWidth::Fat12 ? kFat12DataAreaUnderflow : kFat16DataAreaUnderflow)));
  }
  const std::uint64_t bytes_per_sector = bpb.bytes_per_sector;
  KESTREL_TRY_ASSIGN(fat, checked_add(partition_offset, bpb.reserved_sectors * bytes_per_sector));
  const std::uint64_t fat_area = std::uint64_t{bpb.fat_count} * bpb.fat_sectors * bytes_per_sector;
  KESTREL_TRY_ASSIGN(root, checked_add(*fat, fat_area));
  KESTREL_TRY_ASSIGN(data, checked_add(*root, bpb.root_sectors() * bytes_per_sector));
  const std::uint64_t clusters =
      std::min<std::uint64_t>(bpb.cluster_count(), clusters_in_fat(bpb, width));
  const std::uint64_t data_bytes = clusters * bpb.sectors_per_cluster * bytes_per_sector;
  KESTREL_TRY(check_range(source_length, *data, data_bytes));

  Fat32BootSector boot;
  boot.volume.fat_offset = *fat;
  boot.volume.data_offset = *data;
  boot.volume.partition_index = partition_index;
  boot.volume.bytes_per_sector = bpb.bytes_per_sector;
  boot.volume.sectors_per_cluster = bpb.sectors_per_cluster;
  boot.volume.cluster_count = static_cast<std::uint32_t>(clusters);
  boot.volume.width = width;
  boot.volume.root_offset = *root;
  boot.volume.root_bytes = bpb.root_entries * kDirectoryEntryBytes;
  boot.label = volume_label(sector);
  return boot;
}

}  // namespace kestrel
