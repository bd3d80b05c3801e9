#pragma once

// Small FAT32 and exFAT volumes laid out by hand, for the cases no real tool
// produces: loops, cross-linked directories, deep trees, damaged names and
// boot regions, entry sets that straddle clusters. The layouts follow the
// on-disk formats directly and do not use the reader's code.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "recovery-core/exfat/exfat_geometry.hpp"
#include "recovery-core/fat/fat_geometry.hpp"
#include "tests/support/sparse_source.hpp"

namespace kestrel::testing {

using RawEntry = std::array<std::uint8_t, 32>;

// ---- FAT32 directory entries ----

// A short entry; `name11` is the 8.3 name as stored (padded with blanks).
RawEntry fat_short_entry(std::string_view name11, std::uint8_t attributes, std::uint32_t cluster,
                         std::uint32_t size);
// The entry with its first byte replaced by the deletion marker 0xE5.
RawEntry fat_deleted(RawEntry entry);
// The standard long-name checksum of 11 stored short-name bytes.
std::uint8_t fat_long_name_checksum(std::string_view name11);
// Long-name entries for `name`, in directory order (the name's end first),
// terminated by 0x0000 and padded with 0xFFFF, each carrying `checksum`.
// Deleted entries have 0xE5 in place of the ordinal.
std::vector<RawEntry> fat_long_name_entries(std::u16string_view name, std::uint8_t checksum,
                                            bool deleted);

// A FAT32 volume: one FAT at byte 512, the data area after it (sector aligned).
class CraftedFat32 {
 public:
  explicit CraftedFat32(std::uint32_t cluster_count, std::uint32_t sectors_per_cluster = 1,
                        std::uint32_t bytes_per_sector = 512);

  FatGeometry volume() const { return volume_; }
  SparseSource& source() { return *source_; }
  std::uint32_t cluster_size() const {
    return volume_.bytes_per_sector * volume_.sectors_per_cluster;
  }
  std::uint64_t cluster_offset(std::uint32_t cluster) const;
  std::uint64_t entry_offset(std::uint32_t cluster, std::uint32_t index) const;

  void set_fat(std::uint32_t cluster, std::uint32_t value);
  // Links the clusters in order and ends the chain.
  void chain(const std::vector<std::uint32_t>& clusters);
  void put_entry(std::uint32_t cluster, std::uint32_t index, const RawEntry& entry);
  // Consecutive entries from `index` on.
  void put_entries(std::uint32_t cluster, std::uint32_t index,
                   const std::vector<RawEntry>& entries);
  void fill_cluster(std::uint32_t cluster, std::string_view bytes);

 private:
  FatGeometry volume_;
  std::unique_ptr<SparseSource> source_;
};

// ---- exFAT directory entries ----

RawEntry exfat_file_entry(bool in_use, std::uint8_t secondary_count);
RawEntry exfat_stream_entry(bool in_use, bool no_fat_chain, std::uint8_t name_length,
                            std::uint32_t first_cluster, std::uint64_t data_length);
// Up to 15 UTF-16 units.
RawEntry exfat_name_entry(bool in_use, std::u16string_view units);
// A whole entry set: File, Stream Extension, and File Name entries for `name`.
std::vector<RawEntry> exfat_file_set(bool in_use, std::u16string_view name,
                                     std::uint32_t first_cluster, std::uint64_t data_length,
                                     bool no_fat_chain = false);

// The set's checksum recomputed and stored in its File entry, counted with
// every entry in use (deleting a set clears only the in-use bits).
void exfat_seal_set(std::vector<RawEntry>& set);
// A sealed entry set of a folder (directory attribute), contiguous when
// `no_fat_chain` is set.
std::vector<RawEntry> exfat_folder_set(bool in_use, std::u16string_view name,
                                       std::uint32_t first_cluster, std::uint64_t data_length,
                                       bool no_fat_chain = true);
// The root's Allocation Bitmap entry.
RawEntry exfat_bitmap_entry(std::uint32_t first_cluster, std::uint64_t data_length);

// An exFAT volume at `partition_offset` with 512-byte sectors: the main boot
// region in sectors 0-11, the backup in 12-23, the FAT from sector 24, the
// heap after it. write_boot_regions() lays out both regions with their
// checksums; the directory tests use the geometry alone.
class CraftedExfat {
 public:
  CraftedExfat(std::uint32_t cluster_count, std::uint8_t sectors_per_cluster_shift,
               std::uint64_t partition_offset = 0, std::uint64_t extra_capacity = 0);

  ExfatGeometry volume() const { return volume_; }
  SparseSource& source() { return *source_; }
  std::uint64_t partition_offset() const { return partition_offset_; }
  std::uint32_t cluster_size() const {
    return volume_.bytes_per_sector * volume_.sectors_per_cluster;
  }
  std::uint64_t cluster_offset(std::uint32_t cluster) const;

  void set_fat(std::uint32_t cluster, std::uint32_t value);
  void chain(const std::vector<std::uint32_t>& clusters);
  void put_entry(std::uint32_t cluster, std::uint32_t index, const RawEntry& entry);
  // Consecutive entries along the root chain, from entry `index` of the
  // directory data (the chain's clusters concatenated).
  void put_directory_entries(const std::vector<std::uint32_t>& chain, std::uint64_t index,
                             const std::vector<RawEntry>& entries);
  void fill_cluster(std::uint32_t cluster, std::string_view bytes);
  // Writes an allocation bitmap into one cluster (its FAT entry ends the
  // chain) marking only `in_use` (and the bitmap's own cluster) as used.
  void write_allocation_bitmap(std::uint32_t bitmap_cluster,
                               const std::vector<std::uint32_t>& in_use);

  // The 12-sector boot region with its checksum sector, root at `root_cluster`.
  std::vector<std::uint8_t> boot_region(std::uint32_t root_cluster) const;
  // Writes the main region at sector 0 and the backup at sector 12.
  void write_boot_regions(std::uint32_t root_cluster);
  void write_region(std::uint32_t first_sector, const std::vector<std::uint8_t>& region);
  // Recomputes and rewrites the checksum sector of a region held in memory.
  static void seal_region(std::vector<std::uint8_t>& region);

 private:
  ExfatGeometry volume_;
  std::uint64_t partition_offset_;
  std::uint32_t fat_sectors_;
  std::uint32_t heap_sector_;
  std::uint8_t cluster_shift_;
  std::unique_ptr<SparseSource> source_;
};

}  // namespace kestrel::testing
