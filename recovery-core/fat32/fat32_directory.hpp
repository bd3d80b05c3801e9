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

inline constexpr std::string_view kFat32LongNameNote =
    "삭제된 FAT32 긴 파일명 엔트리의 구조가 일관되고 공유 체크섬이 남은 short-name 바이트와 "
    "모순되지 않습니다.";

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
