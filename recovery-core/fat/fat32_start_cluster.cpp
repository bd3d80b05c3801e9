#include "recovery-core/fat/fat32_start_cluster.hpp"

#include <algorithm>
#include <limits>

#include "recovery-core/chains/cluster_chain.hpp"

namespace kestrel {

namespace {

constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t kBand = 65536;

std::uint64_t cluster_limit(std::uint32_t cluster_count) {
  return std::min<std::uint64_t>(std::uint64_t{cluster_count} + 2, kMax32);
}

}  // namespace

bool is_usable_start_cluster(std::uint32_t cluster, std::uint32_t cluster_count) {
  return cluster >= 2 && cluster < cluster_limit(cluster_count);
}

std::uint32_t reconstruct_start_cluster(DeletedRunState& state, std::uint16_t high_word,
                                        std::uint16_t low_word, std::uint64_t size,
                                        std::uint32_t cluster_size, std::uint32_t cluster_count) {
  const std::uint64_t limit = cluster_limit(cluster_count);
  std::uint64_t cluster = (std::uint64_t{high_word} << 16) | low_word;

  if (high_word == 0) {
    if (state.has_previous_low && low_word == state.previous_low) {
      if (state.previous_valid) cluster = state.previous_cluster;
    } else if (state.has_floor) {
      while (cluster < state.floor) {
        const std::uint64_t next = cluster + kBand;
        if (next > kMax32 || next >= limit) break;
        cluster = next;
      }
    }
  }

  return keep_start_cluster(state, cluster, low_word, size, cluster_size, cluster_count);
}

std::uint32_t keep_start_cluster(DeletedRunState& state, std::uint64_t cluster,
                                 std::uint16_t low_word, std::uint64_t size,
                                 std::uint32_t cluster_size, std::uint32_t cluster_count) {
  if (cluster < 2 || cluster >= cluster_limit(cluster_count)) {
    state.previous_valid = false;
    state.has_floor = false;
    state.has_previous_low = false;
    return static_cast<std::uint32_t>(cluster);
  }

  const std::uint64_t end = std::min(cluster + clusters_needed(size, cluster_size), kMax32);
  state.floor = state.has_floor
                    ? std::max<std::uint32_t>(state.floor, static_cast<std::uint32_t>(end))
                    : static_cast<std::uint32_t>(end);
  state.has_floor = true;
  state.has_previous_low = true;
  state.previous_low = low_word;
  state.previous_valid = true;
  state.previous_cluster = static_cast<std::uint32_t>(cluster);
  return static_cast<std::uint32_t>(cluster);
}

}  // namespace kestrel
