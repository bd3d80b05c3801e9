#pragma once

#include <cstdint>
#include <variant>

namespace kestrel {

// FAT32 geometry in absolute byte offsets of the source.
struct Fat32Volume {
  std::uint64_t fat_offset = 0;   // first FAT
  std::uint64_t data_offset = 0;  // cluster 2
  std::uint32_t partition_index = 0;
  std::uint32_t bytes_per_sector = 0;
  std::uint32_t sectors_per_cluster = 0;
  std::uint32_t cluster_count = 0;  // valid clusters: 2 .. cluster_count + 1

  friend bool operator==(const Fat32Volume&, const Fat32Volume&) = default;
};

// exFAT geometry in absolute byte offsets of the source.
struct ExfatVolume {
  std::uint64_t fat_offset = 0;
  std::uint64_t heap_offset = 0;  // cluster 2
  std::uint32_t bytes_per_sector = 0;
  std::uint32_t sectors_per_cluster = 0;
  std::uint32_t cluster_count = 0;  // valid clusters: 2 .. cluster_count + 1

  friend bool operator==(const ExfatVolume&, const ExfatVolume&) = default;
};

// The geometry of either kind of volume.
using VolumeGeometry = std::variant<Fat32Volume, ExfatVolume>;

}  // namespace kestrel
