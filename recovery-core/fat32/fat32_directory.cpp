#include "recovery-core/fat32/fat32_directory.hpp"

#include <algorithm>
#include <span>
#include <string>
#include <tuple>

#include "recovery-core/chains/chain_walk.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/content/content_signature.hpp"
#include "recovery-core/fat32/fat32_directory_entry.hpp"
#include "recovery-core/fat32/fat32_entry_name.hpp"
#include "recovery-core/fat32/fat32_messages.hpp"
#include "recovery-core/fat32/fat32_start_cluster.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

using namespace fat32_entry;

constexpr std::size_t kEntryBytes = std::tuple_size_v<Fat32DirectoryEntry>;
// Directory clusters are read in pieces of at most this size, so that a deep
// walk over a volume with huge clusters holds little memory.
constexpr std::size_t kMaxDirectoryPiece = 256 * 1024;

// The walk of one directory: its pending long-name entries and its run of
// deleted entries carry over from one of its clusters to the next.
class DirectoryWalk {
 public:
  DirectoryWalk(ByteSource& source, const Fat32Volume& volume, std::uint32_t cluster_size,
                std::uint32_t depth, Fat32VolumeWalk& walk)
      : source_(source),
        volume_(volume),
        cluster_size_(cluster_size),
        depth_(depth),
        walk_(walk),
        links_(volume.cluster_count),
        piece_(std::min<std::size_t>(cluster_size, kMaxDirectoryPiece)) {}

  std::expected<void, RecoveryError> run(std::uint32_t start_cluster) {
    if (!links_.starts_at(start_cluster)) return {};
    std::uint32_t cluster = start_cluster;
    for (std::uint32_t walked = 0; walked < kMaxChainClusters; ++walked) {
      if (!walk_.walked_clusters.insert(cluster).second) return {};
      auto ended = visit_cluster(cluster);
      if (!ended) return std::unexpected(ended.error());
      if (*ended) return {};
      auto entry = read_fat_entry(source_, volume_.fat_offset, cluster);
      if (!entry) return std::unexpected(entry.error());
      const std::optional<std::uint32_t> next = links_.next(*entry);
      if (!next) return {};
      cluster = *next;
    }
    return {};
  }

 private:
  // Visits the entries of one cluster; true when the directory ended in it.
  std::expected<bool, RecoveryError> visit_cluster(std::uint32_t cluster) {
    auto base = cluster_offset(volume_, cluster);
    if (!base) return std::unexpected(base.error());
    for (std::uint64_t position = 0; position < cluster_size_; position += piece_.size()) {
      const std::span<std::uint8_t> piece(
          piece_.data(), std::min<std::uint64_t>(piece_.size(), cluster_size_ - position));
      if (auto read = read_exact(source_, *base + position, piece); !read) {
        return std::unexpected(read.error());
      }
      for (std::size_t at = 0; at + kEntryBytes <= piece.size(); at += kEntryBytes) {
        Fat32DirectoryEntry entry{};
        std::copy_n(piece.begin() + static_cast<std::ptrdiff_t>(at), kEntryBytes, entry.begin());
        if (entry[kStatus] == kEndOfDirectory) return true;
        auto entry_offset = checked_add(*base, position + at);
        if (!entry_offset) return std::unexpected(entry_offset.error());
        if (auto visited = visit_entry(entry, *entry_offset); !visited) {
          return std::unexpected(visited.error());
        }
      }
    }
    return false;
  }

  void gather_long_name_entry(const Fat32DirectoryEntry& entry) {
    if (!is_deleted_long_name_entry(entry)) {
      pending_.clear();
      return;
    }
    if (!pending_.empty() && entry[kLongNameChecksum] != pending_.front()[kLongNameChecksum]) pending_.clear();
    if (pending_.size() == kMaxPendingLongNameEntries) {
      pending_.clear();
      return;
    }
    pending_.push_back(entry);
  }

  std::expected<void, RecoveryError> visit_entry(const Fat32DirectoryEntry& entry,
                                                 std::uint64_t entry_offset) {
    const std::uint8_t attributes = entry[kAttributes];
    if (attributes == kLongNameAttributes) {
      gather_long_name_entry(entry);
      return {};
    }
    if ((attributes & kVolumeLabelBit) != 0) {
      pending_.clear();
      return {};
    }

    const Fat32ShortEntry fields = read_short_entry(entry);
    const std::string short_name = decode_short_name(entry, fields.deleted);

    if (!fields.deleted) {
      pending_.clear();
      run_.clear();
      const std::uint32_t cluster = fields.cluster();
      if (fields.is_directory() && cluster > 1 && short_name != "." && short_name != "..") {
        return scan_fat32_directory(source_, volume_, cluster, depth_ + 1, walk_);
      }
      return {};
    }

    std::optional<std::string> long_name = assemble_deleted_long_name(pending_, entry);
    pending_.clear();
    if (fields.is_directory() || fields.size == 0) {
      run_.clear();
      return {};
    }
    const std::uint32_t start = reconstruct_start_cluster(run_, fields.cluster_high, fields.cluster_low, fields.size,
                                                          cluster_size_, volume_.cluster_count);
    if (!is_usable_start_cluster(start, volume_.cluster_count)) return {};

    std::string name = long_name ? std::move(*long_name) : short_name;
    auto candidate = build_candidate(entry_offset, std::move(name), fields.size, start, long_name.has_value());
    if (!candidate) return std::unexpected(candidate.error());
    walk_.candidates.push_back(std::move(*candidate));
    return {};
  }

  std::expected<RecoveryCandidate, RecoveryError> build_candidate(std::uint64_t entry_offset,
                                                                  std::string name,
                                                                  std::uint32_t size,
                                                                  std::uint32_t start,
                                                                  bool long_name_used) {
    auto data_offset = cluster_offset(volume_, start);
    if (!data_offset) return std::unexpected(data_offset.error());
    auto offsets = deleted_file_offset_count(source_, volume_, start, size, walk_.chain_memo);
    if (!offsets) return std::unexpected(offsets.error());
    const bool has_chain = *offsets >= 2;
    ContentCheck check = check_content(source_, *data_offset, size, name, has_chain);

    RecoveryCandidate candidate;
    candidate.id = "fat32:" + std::to_string(volume_.partition_index) + ":" +
                   std::to_string(entry_offset);
    candidate.partition_index = volume_.partition_index;
    candidate.file_system = FilesystemKind::Fat32;
    candidate.name = std::move(name);
    candidate.size = size;
    candidate.first_cluster = start;
    candidate.data_offset = *data_offset;
    candidate.cluster_size = cluster_size_;
    candidate.recoverability = has_chain ? Recoverability::FatChain : Recoverability::ContiguousLikely;
    candidate.detected_kind = check.detected_kind;
    candidate.confidence = check.confidence;
    candidate.confidence_score = check.confidence_score;
    candidate.validation_notes = std::move(check.validation_notes);
    if (long_name_used) candidate.validation_notes.emplace_back(kFat32LongNameNote);
    candidate.deleted = true;
    candidate.volume = volume_;
    candidate.no_fat_chain = false;
    return candidate;
  }

  ByteSource& source_;
  const Fat32Volume& volume_;
  std::uint32_t cluster_size_;
  std::uint32_t depth_;
  Fat32VolumeWalk& walk_;
  const Fat32Links links_;
  std::vector<std::uint8_t> piece_;
  std::vector<Fat32DirectoryEntry> pending_;
  DeletedRunState run_;
};

}  // namespace

std::expected<void, RecoveryError> scan_fat32_directory(ByteSource& source, const Fat32Volume& volume,
                                                        std::uint32_t start_cluster,
                                                        std::uint32_t depth, Fat32VolumeWalk& walk) {
  if (depth > kMaxFat32DirectoryDepth) return {};
  auto size = cluster_size(volume);
  if (!size) return std::unexpected(size.error());
  DirectoryWalk directory(source, volume, *size, depth, walk);
  return directory.run(start_cluster);
}

std::expected<std::vector<RecoveryCandidate>, RecoveryError> scan_fat32_volume(
    ByteSource& source, const Fat32Volume& volume, std::uint32_t root_cluster) {
  Fat32VolumeWalk walk;
  if (auto walked = scan_fat32_directory(source, volume, root_cluster, 0, walk); !walked) {
    return std::unexpected(walked.error());
  }
  return std::move(walk.candidates);
}

}  // namespace kestrel
