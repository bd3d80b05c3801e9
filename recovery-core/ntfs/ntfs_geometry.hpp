#pragma once

#include <cstdint>

namespace kestrel {

// Where an NTFS volume's clusters are in the source, and how big its records.
struct NtfsGeometry {
  std::uint64_t volume_offset = 0;  // of cluster 0
  std::uint32_t cluster_size = 0;
  std::uint64_t cluster_count = 0;
  std::uint32_t record_size = 0;

  std::uint64_t cluster_offset(std::uint64_t cluster) const {
    return volume_offset + cluster * cluster_size;
  }
  std::uint64_t end() const { return volume_offset + cluster_count * cluster_size; }
};

}  // namespace kestrel
