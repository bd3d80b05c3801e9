#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "recovery-core/chains/fat_entry_reader.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// How the FAT32 FAT links clusters: a walk starts only at a cluster of the
// volume and follows an entry (top four bits ignored) only to another one;
// free (0), reserved (1), bad (0x0FFFFFF7) and end (above) entries end it.
struct Fat32Links {
  explicit Fat32Links(std::uint32_t cluster_count);

  bool starts_at(std::uint32_t cluster) const { return cluster >= 2 && cluster < limit; }
  std::optional<std::uint32_t> next(std::uint32_t entry) const;

  std::uint32_t limit;  // cluster_count + 2, saturating at 2^32 - 1
};

// How the exFAT FAT links clusters. Successors are not held to the cluster
// count; mapping the chain is what rejects one past the heap.
struct ExfatLinks {
  bool starts_at(std::uint32_t cluster) const { return cluster >= 2 && cluster <= 0xFFFFFFF7; }
  std::optional<std::uint32_t> next(std::uint32_t entry) const;
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
ChainWalk walk_fat32_chain(FatEntryReader& read, std::uint64_t fat_offset,
                           std::uint32_t cluster_count, std::uint32_t first_cluster,
                           std::uint32_t wanted);
ChainWalk walk_exfat_chain(FatEntryReader& read, std::uint64_t fat_offset,
                           std::uint32_t first_cluster, std::uint32_t wanted);

}  // namespace kestrel
