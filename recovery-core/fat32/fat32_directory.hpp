#pragma once

#include <cstdint>
#include <expected>
#include <unordered_set>
#include <vector>

#include "recovery-core/chains/deleted_file_chain.hpp"
#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/chains/volume_geometry.hpp"
#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// The deepest subdirectory level walked below the root (depth 0).
inline constexpr std::uint32_t kMaxFat32DirectoryDepth = 32;

// State shared by the whole directory walk of one volume.
struct Fat32VolumeWalk {
  // Every directory cluster already walked, by any directory. A directory
  // starting at such a cluster is skipped, and a directory's chain stops at
  // one, so a loop or two cross-linked directories are walked once.
  std::unordered_set<std::uint32_t> walked_clusters;
  DeletedChainMemo chain_memo;
  std::vector<RecoveryCandidate> candidates;  // in walk order
};

// Walks the directory starting at `start_cluster` and, depth first, every live
// subdirectory in it, appending a candidate for every deleted file that names
// a data cluster. A directory deeper than 32 levels or already walked is
// skipped silently. Directory reads and offset overflows end the walk.
std::expected<void, RecoveryError> scan_fat32_directory(ByteSource& source, const Fat32Volume& volume,
                                                        std::uint32_t start_cluster,
                                                        std::uint32_t depth, Fat32VolumeWalk& walk);

// The candidates of a whole volume: the walk from its root directory.
std::expected<std::vector<RecoveryCandidate>, RecoveryError> scan_fat32_volume(
    ByteSource& source, const Fat32Volume& volume, std::uint32_t root_cluster);

}  // namespace kestrel
