#pragma once

#include <cstdint>
#include <variant>

namespace kestrel {

// How wide a FAT entry is: 12 bits (two entries packed in three bytes), 16 or 32.
enum class FatWidth : std::uint8_t { Fat12, Fat16, Fat32 };

// FAT geometry (FAT12, FAT16 or FAT32) in absolute byte offsets of the source.
struct FatGeometry {
  std::uint64_t fat_offset = 0;   // first FAT
  std::uint64_t data_offset = 0;  // cluster 2
  std::uint32_t partition_index = 0;
  std::uint32_t bytes_per_sector = 0;
  std::uint32_t sectors_per_cluster = 0;
  std::uint32_t cluster_count = 0;  // valid clusters: 2 .. cluster_count + 1
  FatWidth width = FatWidth::Fat32;
  // FAT12/16: the root directory is the fixed region between the FATs and the
  // data area rather than a chain of clusters. FAT32: both 0.
  std::uint64_t root_offset = 0;
  std::uint32_t root_bytes = 0;

  friend bool operator==(const FatGeometry&, const FatGeometry&) = default;
};

// exFAT geometry in absolute byte offsets of the source.
struct ExfatGeometry {
  std::uint64_t fat_offset = 0;
  std::uint64_t heap_offset = 0;  // cluster 2
  std::uint32_t bytes_per_sector = 0;
  std::uint32_t sectors_per_cluster = 0;
  std::uint32_t cluster_count = 0;  // valid clusters: 2 .. cluster_count + 1

  friend bool operator==(const ExfatGeometry&, const ExfatGeometry&) = default;
};

// An area without a file system: no clusters, no allocation table. Files
// carved from it are read as the runs their candidates name.
struct RawAreaGeometry {
  friend bool operator==(const RawAreaGeometry&, const RawAreaGeometry&) = default;
};

// Where a volume's files lie: the geometry of a volume with clusters in a
// table, or none.
using VolumeGeometry = std::variant<FatGeometry, ExfatGeometry, RawAreaGeometry>;

}  // namespace kestrel
