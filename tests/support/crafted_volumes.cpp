#include "tests/support/crafted_volumes.hpp"

#include <algorithm>
#include <cstring>

namespace kestrel::testing {

namespace {

void put_u16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void put_u32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void put_u64(std::uint8_t* at, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

constexpr std::uint32_t kSector = 512;

}  // namespace

RawEntry fat_short_entry(std::string_view name11, std::uint8_t attributes, std::uint32_t cluster,
                         std::uint32_t size) {
  RawEntry entry{};
  std::fill_n(entry.begin(), 11, std::uint8_t{' '});
  std::copy_n(name11.begin(), std::min<std::size_t>(name11.size(), 11), entry.begin());
  entry[11] = attributes;
  put_u16(&entry[20], static_cast<std::uint16_t>(cluster >> 16));
  put_u16(&entry[26], static_cast<std::uint16_t>(cluster));
  put_u32(&entry[28], size);
  return entry;
}

RawEntry fat_deleted(RawEntry entry) {
  entry[0] = 0xE5;
  return entry;
}

std::uint8_t fat_long_name_checksum(std::string_view name11) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < 11; ++i) {
    const std::uint8_t byte = i < name11.size() ? static_cast<std::uint8_t>(name11[i]) : ' ';
    sum = static_cast<std::uint8_t>(((sum & 1) ? 0x80 : 0) + (sum >> 1) + byte);
  }
  return sum;
}

std::vector<RawEntry> fat_long_name_entries(std::u16string_view name, std::uint8_t checksum,
                                            bool deleted) {
  static constexpr std::size_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  const std::size_t parts = (name.size() + 12) / 13;
  std::vector<RawEntry> in_name_order;
  for (std::size_t part = 0; part < parts; ++part) {
    RawEntry entry{};
    entry[0] = static_cast<std::uint8_t>((part + 1) | (part + 1 == parts ? 0x40 : 0));
    if (deleted) entry[0] = 0xE5;
    entry[11] = 0x0F;
    entry[13] = checksum;
    for (std::size_t unit = 0; unit < 13; ++unit) {
      const std::size_t at = part * 13 + unit;
      const std::uint16_t value = at < name.size() ? name[at] : at == name.size() ? 0x0000 : 0xFFFF;
      put_u16(&entry[kOffsets[unit]], value);
    }
    in_name_order.push_back(entry);
  }
  std::reverse(in_name_order.begin(), in_name_order.end());
  return in_name_order;
}

CraftedFat32::CraftedFat32(std::uint32_t cluster_count, std::uint32_t sectors_per_cluster,
                           std::uint32_t bytes_per_sector) {
  const std::uint64_t fat_bytes = (std::uint64_t{cluster_count} + 2) * 4;
  const std::uint64_t fat_sectors = (fat_bytes + bytes_per_sector - 1) / bytes_per_sector;
  volume_.fat_offset = kSector;
  volume_.data_offset = kSector + bytes_per_sector * fat_sectors;
  volume_.partition_index = 1;
  volume_.bytes_per_sector = bytes_per_sector;
  volume_.sectors_per_cluster = sectors_per_cluster;
  volume_.cluster_count = cluster_count;
  source_ = std::make_unique<SparseSource>(volume_.data_offset +
                                           std::uint64_t{cluster_count} * cluster_size());
}

std::uint64_t CraftedFat32::cluster_offset(std::uint32_t cluster) const {
  return volume_.data_offset + std::uint64_t{cluster - 2} * cluster_size();
}

std::uint64_t CraftedFat32::entry_offset(std::uint32_t cluster, std::uint32_t index) const {
  return cluster_offset(cluster) + 32ull * index;
}

void CraftedFat32::set_fat(std::uint32_t cluster, std::uint32_t value) {
  source_->write_u32(volume_.fat_offset + 4ull * cluster, value);
}

void CraftedFat32::chain(const std::vector<std::uint32_t>& clusters) {
  for (std::size_t i = 0; i < clusters.size(); ++i) {
    set_fat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : 0x0FFFFFFF);
  }
}

void CraftedFat32::put_entry(std::uint32_t cluster, std::uint32_t index, const RawEntry& entry) {
  source_->write(entry_offset(cluster, index), entry);
}

void CraftedFat32::put_entries(std::uint32_t cluster, std::uint32_t index,
                               const std::vector<RawEntry>& entries) {
  for (const RawEntry& entry : entries) put_entry(cluster, index++, entry);
}

void CraftedFat32::fill_cluster(std::uint32_t cluster, std::string_view bytes) {
  source_->write(cluster_offset(cluster),
                 std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

RawEntry exfat_file_entry(bool in_use, std::uint8_t secondary_count) {
  RawEntry entry{};
  entry[0] = in_use ? 0x85 : 0x05;
  entry[1] = secondary_count;
  put_u16(&entry[4], 0x20);  // archive attribute
  return entry;
}

RawEntry exfat_stream_entry(bool in_use, bool no_fat_chain, std::uint8_t name_length,
                            std::uint32_t first_cluster, std::uint64_t data_length) {
  RawEntry entry{};
  entry[0] = in_use ? 0xC0 : 0x40;
  entry[1] = static_cast<std::uint8_t>(0x01 | (no_fat_chain ? 0x02 : 0x00));
  entry[3] = name_length;
  put_u64(&entry[8], data_length);  // ValidDataLength
  put_u32(&entry[20], first_cluster);
  put_u64(&entry[24], data_length);
  return entry;
}

RawEntry exfat_name_entry(bool in_use, std::u16string_view units) {
  RawEntry entry{};
  entry[0] = in_use ? 0xC1 : 0x41;
  for (std::size_t i = 0; i < std::min<std::size_t>(units.size(), 15); ++i)
    put_u16(&entry[2 + 2 * i], units[i]);
  return entry;
}

std::vector<RawEntry> exfat_file_set(bool in_use, std::u16string_view name,
                                     std::uint32_t first_cluster, std::uint64_t data_length,
                                     bool no_fat_chain) {
  const std::size_t name_entries = (name.size() + 14) / 15;
  std::vector<RawEntry> set;
  set.push_back(exfat_file_entry(in_use, static_cast<std::uint8_t>(1 + name_entries)));
  set.push_back(exfat_stream_entry(in_use, no_fat_chain, static_cast<std::uint8_t>(name.size()),
                                   first_cluster, data_length));
  for (std::size_t i = 0; i < name_entries; ++i)
    set.push_back(exfat_name_entry(in_use, name.substr(15 * i)));
  return set;
}

void exfat_seal_set(std::vector<RawEntry>& set) {
  std::uint16_t sum = 0;
  for (std::size_t entry = 0; entry < set.size(); ++entry) {
    for (std::size_t at = 0; at < 32; ++at) {
      if (entry == 0 && (at == 2 || at == 3)) continue;
      const std::uint8_t byte =
          at == 0 ? static_cast<std::uint8_t>(set[entry][0] | 0x80) : set[entry][at];
      sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + byte);
    }
  }
  put_u16(&set[0][2], sum);
}

std::vector<RawEntry> exfat_folder_set(bool in_use, std::u16string_view name,
                                       std::uint32_t first_cluster, std::uint64_t data_length,
                                       bool no_fat_chain) {
  std::vector<RawEntry> set =
      exfat_file_set(in_use, name, first_cluster, data_length, no_fat_chain);
  put_u16(&set[0][4], 0x10);
  exfat_seal_set(set);
  return set;
}

RawEntry exfat_bitmap_entry(std::uint32_t first_cluster, std::uint64_t data_length) {
  RawEntry entry{};
  entry[0] = 0x81;
  put_u32(&entry[20], first_cluster);
  put_u64(&entry[24], data_length);
  return entry;
}

CraftedExfat::CraftedExfat(std::uint32_t cluster_count, std::uint8_t sectors_per_cluster_shift,
                           std::uint64_t partition_offset, std::uint64_t extra_capacity)
    : partition_offset_(partition_offset), cluster_shift_(sectors_per_cluster_shift) {
  fat_sectors_ =
      static_cast<std::uint32_t>(((std::uint64_t{cluster_count} + 2) * 4 + kSector - 1) / kSector);
  heap_sector_ = 24 + fat_sectors_;
  volume_.fat_offset = partition_offset + 24ull * kSector;
  volume_.heap_offset = partition_offset + std::uint64_t{heap_sector_} * kSector;
  volume_.bytes_per_sector = kSector;
  volume_.sectors_per_cluster = 1u << sectors_per_cluster_shift;
  volume_.cluster_count = cluster_count;
  source_ = std::make_unique<SparseSource>(
      volume_.heap_offset + std::uint64_t{cluster_count} * cluster_size() + extra_capacity);
  set_fat(0, 0xFFFFFFF8);
  set_fat(1, 0xFFFFFFFF);
}

std::uint64_t CraftedExfat::cluster_offset(std::uint32_t cluster) const {
  return volume_.heap_offset + std::uint64_t{cluster - 2} * cluster_size();
}

void CraftedExfat::set_fat(std::uint32_t cluster, std::uint32_t value) {
  source_->write_u32(volume_.fat_offset + 4ull * cluster, value);
}

void CraftedExfat::chain(const std::vector<std::uint32_t>& clusters) {
  for (std::size_t i = 0; i < clusters.size(); ++i) {
    set_fat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : 0xFFFFFFFF);
  }
}

void CraftedExfat::put_entry(std::uint32_t cluster, std::uint32_t index, const RawEntry& entry) {
  source_->write(cluster_offset(cluster) + 32ull * index, entry);
}

void CraftedExfat::put_directory_entries(const std::vector<std::uint32_t>& chain,
                                         std::uint64_t index,
                                         const std::vector<RawEntry>& entries) {
  const std::uint64_t per_cluster = cluster_size() / 32;
  for (const RawEntry& entry : entries) {
    put_entry(chain.at(index / per_cluster), static_cast<std::uint32_t>(index % per_cluster),
              entry);
    ++index;
  }
}

void CraftedExfat::fill_cluster(std::uint32_t cluster, std::string_view bytes) {
  source_->write(cluster_offset(cluster),
                 std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

void CraftedExfat::write_allocation_bitmap(std::uint32_t bitmap_cluster,
                                           const std::vector<std::uint32_t>& in_use) {
  std::vector<std::uint8_t> bits(cluster_size(), 0);
  auto mark = [&](std::uint32_t cluster) {
    bits.at((cluster - 2) / 8) |= static_cast<std::uint8_t>(1u << ((cluster - 2) % 8));
  };
  mark(bitmap_cluster);
  for (const std::uint32_t cluster : in_use) mark(cluster);
  source_->write(cluster_offset(bitmap_cluster), bits);
  set_fat(bitmap_cluster, 0xFFFFFFFF);
}

std::vector<std::uint8_t> CraftedExfat::boot_region(std::uint32_t root_cluster) const {
  std::vector<std::uint8_t> region(12 * kSector, 0);
  std::uint8_t* boot = region.data();
  boot[0] = 0xEB;
  boot[1] = 0x76;
  boot[2] = 0x90;
  std::memcpy(boot + 3, "EXFAT   ", 8);
  put_u64(boot + 64, partition_offset_ / kSector);
  put_u64(boot + 72, heap_sector_ + (std::uint64_t{volume_.cluster_count} << cluster_shift_));
  put_u32(boot + 80, 24);
  put_u32(boot + 84, fat_sectors_);
  put_u32(boot + 88, heap_sector_);
  put_u32(boot + 92, volume_.cluster_count);
  put_u32(boot + 96, root_cluster);
  put_u32(boot + 100, 0x1234ABCD);
  put_u16(boot + 104, 0x0100);
  boot[108] = 9;
  boot[109] = cluster_shift_;
  boot[110] = 1;
  boot[111] = 0x80;
  boot[510] = 0x55;
  boot[511] = 0xAA;
  for (int sector = 1; sector <= 8; ++sector)
    put_u32(boot + sector * kSector + kSector - 4, 0xAA550000);
  seal_region(region);
  return region;
}

void CraftedExfat::seal_region(std::vector<std::uint8_t>& region) {
  std::uint32_t checksum = 0;
  for (std::size_t i = 0; i < 11 * kSector; ++i) {
    if (i == 106 || i == 107 || i == 112) continue;
    checksum = ((checksum & 1) ? 0x80000000u : 0u) + (checksum >> 1) + region[i];
  }
  for (std::size_t word = 0; word < kSector / 4; ++word)
    put_u32(&region[11 * kSector + 4 * word], checksum);
}

void CraftedExfat::write_region(std::uint32_t first_sector,
                                const std::vector<std::uint8_t>& region) {
  source_->write(partition_offset_ + std::uint64_t{first_sector} * kSector, region);
}

void CraftedExfat::write_boot_regions(std::uint32_t root_cluster) {
  const std::vector<std::uint8_t> region = boot_region(root_cluster);
  write_region(0, region);
  write_region(12, region);
}

}  // namespace kestrel::testing
