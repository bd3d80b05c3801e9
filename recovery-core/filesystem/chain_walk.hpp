#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/source/recovery_error.hpp"

namespace kestrel {

// What one walk along a FAT found, including how far it got before a failure.
// follow_fat32_chain / follow_exfat_chain turn a failure into their error; the
// deleted-file rules need the clusters read before it as well.
struct ChainWalk {
  // The clusters in chain order (at most kMaxChainClusters).
  std::vector<std::uint32_t> clusters;
  // The FAT entry of the last cluster could not be read (or its offset overflowed).
  std::optional<RecoveryError> failure;
  // The walk stopped because it held the clusters wanted, below the cap: the
  // chain may go on. False when the chain itself ended (end, free, bad or
  // out-of-range entry, a loop, the cap, a failure).
  bool stopped_at_wanted = false;
};

ChainWalk walk_fat32_chain(ByteSource& source, std::uint64_t fat_offset, std::uint32_t cluster_count,
                           std::uint32_t first_cluster, std::uint32_t wanted);
ChainWalk walk_exfat_chain(ByteSource& source, std::uint64_t fat_offset, std::uint32_t first_cluster,
                           std::uint32_t wanted);

}  // namespace kestrel
