#pragma once

#include <cstdint>
#include <expected>

#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/chains/cluster_area.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/errors/recovery_error.hpp"

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

// The volume's clusters as the chain rules read them: entries of its width,
// links of 28 bits held to the volume (FAT12/16 links read in those terms).
ClusterArea cluster_area(const FatGeometry& volume);

// The kind a FAT volume's reports and ids name, by its entry width.
FilesystemKind kind_of(const FatGeometry& volume);

// The cluster arithmetic of the volume's area, for the walks of this folder.
inline std::expected<std::uint32_t, RecoveryError> cluster_size(const FatGeometry& volume) {
  return cluster_size(cluster_area(volume));
}
inline std::expected<std::uint64_t, RecoveryError> cluster_offset(const FatGeometry& volume,
                                                                  std::uint32_t cluster) {
  return cluster_offset(cluster_area(volume), cluster);
}

}  // namespace kestrel
