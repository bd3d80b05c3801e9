#include "recovery-core/fat/fat32_boot_sector.hpp"

#include <bit>
#include <cstring>
#include <limits>
#include <string_view>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/fat/fat_messages.hpp"
#include "recovery-core/source/byte_range.hpp"
#include "recovery-core/text/unicode.hpp"
#include "recovery-core/text/utf8.hpp"

namespace kestrel {

namespace {

// Where the fields the scanner reads lie in a FAT32 boot sector.
namespace boot_field {
constexpr std::size_t kBytesPerSector = 11;     // u16
constexpr std::size_t kSectorsPerCluster = 13;  // u8
constexpr std::size_t kReservedSectors = 14;    // u16
constexpr std::size_t kFatCount = 16;           // u8
constexpr std::size_t kTotalSectors16 = 19;     // u16, 0 when the 32-bit count is used
constexpr std::size_t kTotalSectors32 = 32;     // u32
constexpr std::size_t kFatSectors = 36;         // u32
constexpr std::size_t kRootCluster = 44;        // u32
constexpr std::size_t kVolumeLabel = 71;
constexpr std::size_t kVolumeLabelLength = 11;
constexpr std::size_t kFileSystemType = 82;
}  // namespace boot_field

constexpr std::string_view kFat32Type = "FAT32   ";
constexpr std::string_view kNoLabel = "NO NAME";
constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();

struct Bpb {
  std::uint16_t bytes_per_sector = 0;
  std::uint8_t sectors_per_cluster = 0;
  std::uint16_t reserved_sectors = 0;
  std::uint8_t fat_count = 0;
  std::uint32_t total_sectors = 0;
  std::uint32_t fat_sectors = 0;
  std::uint32_t root_cluster = 0;
};

std::expected<Bpb, RecoveryError> read_bpb(std::span<const std::uint8_t> sector) {
  using namespace boot_field;
  // Every field is read with a bounds check; the first failure is the result.
  std::optional<RecoveryError> failure;
  auto field = [&](auto read) {
    auto value = read();
    if (!value && !failure) failure = value.error();
    return value.value_or(0);
  };
  Bpb bpb;
  bpb.bytes_per_sector = field([&] { return read_u16_le(sector, kBytesPerSector); });
  bpb.sectors_per_cluster = field([&] { return read_u8(sector, kSectorsPerCluster); });
  bpb.reserved_sectors = field([&] { return read_u16_le(sector, kReservedSectors); });
  bpb.fat_count = field([&] { return read_u8(sector, kFatCount); });
  const std::uint16_t total16 = field([&] { return read_u16_le(sector, kTotalSectors16); });
  const std::uint32_t total32 = field([&] { return read_u32_le(sector, kTotalSectors32); });
  bpb.fat_sectors = field([&] { return read_u32_le(sector, kFatSectors); });
  bpb.root_cluster = field([&] { return read_u32_le(sector, kRootCluster); });
  if (failure) return std::unexpected(*failure);
  bpb.total_sectors = total16 != 0 ? total16 : total32;
  return bpb;
}

bool is_usable_bpb(const Bpb& bpb) {
  return bpb.bytes_per_sector >= 512 && std::has_single_bit(bpb.bytes_per_sector) &&
         bpb.sectors_per_cluster != 0 && std::has_single_bit(bpb.sectors_per_cluster) &&
         bpb.fat_count != 0 && bpb.fat_sectors != 0;
}

// Where the FAT and the data area (cluster 2) start.
struct AreaOffsets {
  std::uint64_t fat = 0;                // bytes in the source
  std::uint64_t data = 0;               // bytes in the source
  std::uint32_t data_start_sector = 0;  // sectors from the volume start
};

std::expected<AreaOffsets, RecoveryError> area_offsets(const Bpb& bpb,
                                                       std::uint64_t partition_offset) {
  KESTREL_TRY_ASSIGN(reserved_bytes, checked_mul(bpb.reserved_sectors, bpb.bytes_per_sector));
  KESTREL_TRY_ASSIGN(fat, checked_add(partition_offset, *reserved_bytes));

  // The FAT area and the data start are sector counts that must fit in 32 bits.
  const std::uint64_t fat_area = std::uint64_t{bpb.fat_count} * bpb.fat_sectors;
  if (fat_area > kMax32) return std::unexpected(RecoveryError::byte_range_overflow());
  const std::uint64_t data_start = fat_area + bpb.reserved_sectors;
  if (data_start > kMax32) return std::unexpected(RecoveryError::byte_range_overflow());

  KESTREL_TRY_ASSIGN(data_start_bytes, checked_mul(data_start, bpb.bytes_per_sector));
  KESTREL_TRY_ASSIGN(data, checked_add(partition_offset, *data_start_bytes));
  return AreaOffsets{*fat, *data, static_cast<std::uint32_t>(data_start)};
}

std::expected<FatGeometry, RecoveryError> volume_geometry(const Bpb& bpb,
                                                          std::uint64_t partition_offset,
                                                          std::uint64_t source_length) {
  KESTREL_TRY_ASSIGN(areas, area_offsets(bpb, partition_offset));
  if (bpb.total_sectors < areas->data_start_sector) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kFat32DataAreaUnderflow)));
  }
  const std::uint64_t data_sectors = bpb.total_sectors - areas->data_start_sector;
  KESTREL_TRY_ASSIGN(data_bytes, checked_mul(data_sectors, bpb.bytes_per_sector));
  KESTREL_TRY(check_range(source_length, areas->data, *data_bytes));

  FatGeometry volume;
  volume.fat_offset = areas->fat;
  volume.data_offset = areas->data;
  volume.bytes_per_sector = bpb.bytes_per_sector;
  volume.sectors_per_cluster = bpb.sectors_per_cluster;
  volume.cluster_count =
      static_cast<std::uint32_t>(data_sectors >> std::countr_zero(bpb.sectors_per_cluster));
  return volume;
}

}  // namespace

std::optional<std::string> fat_volume_label(std::span<const std::uint8_t> sector,
                                            std::size_t offset, std::size_t length) {
  auto field = read_bytes(sector, offset, length);
  if (!field) return std::nullopt;
  const std::string decoded = decode_utf8_lossy(*field);
  const std::string_view trimmed = trim_unicode_white_space(decoded);
  if (trimmed.empty() || trimmed == kNoLabel) return std::nullopt;
  return std::string(trimmed);
}

bool is_fat32_boot_sector(std::span<const std::uint8_t> sector) {
  constexpr std::size_t kTypeOffset = boot_field::kFileSystemType;
  return sector.size() >= kTypeOffset + kFat32Type.size() &&
         std::memcmp(sector.data() + kTypeOffset, kFat32Type.data(), kFat32Type.size()) == 0;
}

std::expected<Fat32BootSector, RecoveryError> read_fat32_boot_sector(
    std::span<const std::uint8_t> sector, std::uint64_t partition_offset,
    std::uint32_t partition_index, std::uint64_t source_length) {
  KESTREL_TRY_ASSIGN(bpb, read_bpb(sector));
  if (!is_usable_bpb(*bpb))
    return std::unexpected(RecoveryError::invalid_structure(std::string(kInvalidFat32Bpb)));
  KESTREL_TRY_ASSIGN(volume, volume_geometry(*bpb, partition_offset, source_length));

  Fat32BootSector boot;
  boot.volume = *volume;
  boot.volume.partition_index = partition_index;
  boot.root_cluster = bpb->root_cluster;
  boot.label = fat_volume_label(sector, boot_field::kVolumeLabel, boot_field::kVolumeLabelLength);
  return boot;
}

}  // namespace kestrel
