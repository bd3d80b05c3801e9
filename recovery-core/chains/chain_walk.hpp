#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "recovery-core/chains/cluster_area.hpp"
#include "recovery-core/chains/table_entry_reader.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// How a cluster table's entries link clusters (see LinkRule). A walk starts
// only at a cluster it may hold; free (0), reserved (1), bad and end-of-chain
// entries end it, and so does, under the bounded rule, a successor outside the
// area.
struct ChainLinks {
  // Links of 28 bits, the top four of an entry ignored, held to the clusters
  // 2 .. cluster_count + 1.
  static ChainLinks bounded(std::uint32_t cluster_count);
  // Links of all 32 bits, not held to the area.
  static ChainLinks unbounded();
  // The links of `area`'s table.
  static ChainLinks of(const ClusterArea& area);

  bool starts_at(std::uint32_t cluster) const { return cluster >= 2 && cluster < start_limit; }
  std::optional<std::uint32_t> next(std::uint32_t entry) const {
    const std::uint32_t link = entry & mask;
    if (link < 2 || link >= bad || link >= limit) return std::nullopt;
    return link;
  }

  std::uint32_t mask = 0;
  std::uint32_t bad = 0;          // this value and above mark no successor
  std::uint32_t limit = 0;        // the first successor past the area (bounded rule)
  std::uint32_t start_limit = 0;  // the first cluster a walk cannot start at
};

// What one walk along a FAT found, including how far it got before a failure.
// follow_fat32_chain / follow_exfat_chain turn a failure into their error; the
// deleted-file rules need the clusters read before it as well.
struct ChainWalk {
  // The clusters in chain order (at most kMaxChainClusters).
  std::vector<std::uint32_t> clusters;
  // The FAT entry of the last cluster could not be read (or its offset overflowed).
  std::optional<RecoveryError> failure;
};

// One walk from `first_cluster` with the FAT entries read through `read`. It
// ends as follow_fat32_chain / follow_exfat_chain describe, and on a failed
// read it keeps what it had.
ChainWalk walk_fat32_chain(TableEntryReader& read, std::uint64_t fat_offset,
                           std::uint32_t cluster_count, std::uint32_t first_cluster,
                           std::uint32_t wanted);
ChainWalk walk_exfat_chain(TableEntryReader& read, std::uint64_t fat_offset,
                           std::uint32_t first_cluster, std::uint32_t wanted);
// The walk over `area`'s table by its rule.
ChainWalk walk_area_chain(TableEntryReader& read, const ClusterArea& area,
                          std::uint32_t first_cluster, std::uint32_t wanted);

}  // namespace kestrel
