#include "recovery-core/fat32/fat32_boot_sector.hpp"

#include <bit>
#include <limits>
#include <string_view>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/fat32/fat32_messages.hpp"
#include "recovery-core/source/byte_range.hpp"
#include "recovery-core/text/unicode.hpp"
#include "recovery-core/text/utf8.hpp"

namespace kestrel {

namespace {

constexpr std::size_t kLabelOffset = 71;
constexpr std::size_t kLabelLength = 11;

RecoveryError invalid_bpb() { return RecoveryError::invalid_structure(std::string(kInvalidFat32Bpb)); }

struct Bpb {
  std::uint16_t bytes_per_sector = 0;
  std::uint8_t sectors_per_cluster = 0;
  std::uint16_t reserved_sectors = 0;
  std::uint8_t fat_count = 0;
  std::uint32_t total_sectors = 0;
  std::uint32_t fat_size = 0;
  std::uint32_t root_cluster = 0;
};

std::expected<Bpb, RecoveryError> read_bpb(std::span<const std::uint8_t> sector) {
  // Every field is read with a bounds check; the first failure is the result.
  std::optional<RecoveryError> failure;
  auto field = [&](auto read) {
    auto value = read();
    if (!value && !failure) failure = value.error();
    return value.value_or(0);
  };
  Bpb bpb;
  bpb.bytes_per_sector = field([&] { return read_u16_le(sector, 11); });
  bpb.sectors_per_cluster = field([&] { return read_u8(sector, 13); });
  bpb.reserved_sectors = field([&] { return read_u16_le(sector, 14); });
  bpb.fat_count = field([&] { return read_u8(sector, 16); });
  const std::uint16_t total16 = field([&] { return read_u16_le(sector, 19); });
  const std::uint32_t total32 = field([&] { return read_u32_le(sector, 32); });
  bpb.fat_size = field([&] { return read_u32_le(sector, 36); });
  bpb.root_cluster = field([&] { return read_u32_le(sector, 44); });
  if (failure) return std::unexpected(*failure);
  bpb.total_sectors = total16 != 0 ? total16 : total32;
  return bpb;
}

std::optional<std::string> volume_label(std::span<const std::uint8_t> sector) {
  auto field = read_bytes(sector, kLabelOffset, kLabelLength);
  if (!field) return std::nullopt;
  const std::string decoded = decode_utf8_lossy(*field);
  const std::string_view trimmed = trim_unicode_white_space(decoded);
  if (trimmed.empty() || trimmed == "NO NAME") return std::nullopt;
  return std::string(trimmed);
}

}  // namespace

std::expected<Fat32BootSector, RecoveryError> read_fat32_boot_sector(
    std::span<const std::uint8_t> sector, std::uint64_t partition_offset,
    std::uint32_t partition_index, std::uint64_t source_length) {
  auto bpb = read_bpb(sector);
  if (!bpb) return std::unexpected(bpb.error());

  if (bpb->bytes_per_sector < 512 || !std::has_single_bit(bpb->bytes_per_sector)) {
    return std::unexpected(invalid_bpb());
  }
  if (bpb->sectors_per_cluster == 0 || !std::has_single_bit(bpb->sectors_per_cluster)) {
    return std::unexpected(invalid_bpb());
  }
  if (bpb->fat_count == 0 || bpb->fat_size == 0) return std::unexpected(invalid_bpb());

  auto reserved_bytes = checked_mul(bpb->reserved_sectors, bpb->bytes_per_sector);
  if (!reserved_bytes) return std::unexpected(reserved_bytes.error());
  auto fat_offset = checked_add(partition_offset, *reserved_bytes);
  if (!fat_offset) return std::unexpected(fat_offset.error());

  // The FAT area and the data start are sector counts that must fit in 32 bits.
  constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();
  const std::uint64_t fat_area = std::uint64_t{bpb->fat_count} * bpb->fat_size;
  if (fat_area > kMax32) return std::unexpected(RecoveryError::byte_range_overflow());
  const std::uint64_t data_start = fat_area + bpb->reserved_sectors;
  if (data_start > kMax32) return std::unexpected(RecoveryError::byte_range_overflow());

  auto data_start_bytes = checked_mul(data_start, bpb->bytes_per_sector);
  if (!data_start_bytes) return std::unexpected(data_start_bytes.error());
  auto data_offset = checked_add(partition_offset, *data_start_bytes);
  if (!data_offset) return std::unexpected(data_offset.error());

  if (bpb->total_sectors < data_start) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kFat32DataAreaUnderflow)));
  }
  const std::uint64_t data_sectors = bpb->total_sectors - data_start;
  const auto cluster_count = static_cast<std::uint32_t>(
      data_sectors >> std::countr_zero(bpb->sectors_per_cluster));

  auto data_bytes = checked_mul(data_sectors, bpb->bytes_per_sector);
  if (!data_bytes) return std::unexpected(data_bytes.error());
  if (auto in_source = check_range(source_length, *data_offset, *data_bytes); !in_source) {
    return std::unexpected(in_source.error());
  }

  Fat32BootSector boot;
  boot.volume.fat_offset = *fat_offset;
  boot.volume.data_offset = *data_offset;
  boot.volume.partition_index = partition_index;
  boot.volume.bytes_per_sector = bpb->bytes_per_sector;
  boot.volume.sectors_per_cluster = bpb->sectors_per_cluster;
  boot.volume.cluster_count = cluster_count;
  boot.root_cluster = bpb->root_cluster;
  boot.label = volume_label(sector);
  return boot;
}

}  // namespace kestrel
