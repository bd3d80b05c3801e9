#pragma once

#include <cstdint>
#include <expected>

#include "recovery-core/chains/cluster_area.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// exFAT geometry in absolute byte offsets of the source.
struct ExfatGeometry {
  std::uint64_t fat_offset = 0;
  std::uint64_t heap_offset = 0;  // cluster 2
  std::uint32_t bytes_per_sector = 0;
  std::uint32_t sectors_per_cluster = 0;
  std::uint32_t cluster_count = 0;  // valid clusters: 2 .. cluster_count + 1

  friend bool operator==(const ExfatGeometry&, const ExfatGeometry&) = default;
};

// The heap as the chain rules read it: 32-bit entries whose links are not held
// to the heap (mapping refuses a cluster past it).
ClusterArea cluster_area(const ExfatGeometry& volume);

// The cluster arithmetic of the heap, for the walks of this folder.
inline std::expected<std::uint32_t, RecoveryError> cluster_size(const ExfatGeometry& volume) {
  return cluster_size(cluster_area(volume));
}
inline std::expected<std::uint64_t, RecoveryError> cluster_offset(const ExfatGeometry& volume,
                                                                  std::uint32_t cluster) {
  return cluster_offset(cluster_area(volume), cluster);
}

}  // namespace kestrel
