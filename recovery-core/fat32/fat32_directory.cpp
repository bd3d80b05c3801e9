#include "recovery-core/fat32/fat32_directory.hpp"

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "recovery-core/candidates/candidate_builder.hpp"
#include "recovery-core/chains/chain_walk.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/fat32/fat32_directory_entry.hpp"
#include "recovery-core/fat32/fat32_entry_name.hpp"
#include "recovery-core/fat32/fat32_messages.hpp"
#include "recovery-core/fat32/fat32_start_cluster.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

using namespace fat32_entry;

constexpr std::size_t kEntryBytes = std::tuple_size_v<Fat32DirectoryEntry>;
// The deepest subdirectory level walked below the root (depth 0).
constexpr std::uint32_t kMaxDepth = 32;
// Directory clusters are read in pieces of at most this size, so that a deep
// walk over a volume with huge clusters holds little memory.
constexpr std::size_t kMaxDirectoryPiece = 256 * 1024;

// Whether a directory's walk goes on after an entry or a cluster.
enum class Flow { Continue, End };

// What every directory of one volume's walk shares: the clusters already
// walked, the depth limit, the candidate builder and the sink.
class TreeWalk {
 public:
  TreeWalk(ByteSource& source, const Fat32Volume& volume, std::uint32_t cluster_size, CandidateSink& sink)
      : source_(source), volume_(volume), cluster_size_(cluster_size), builder_(source, volume), sink_(sink) {}

  // The directory starting at `start_cluster`, `depth` levels below the root,
  // and, depth first, its live subdirectories.
  std::expected<void, RecoveryError> walk_directory(std::uint32_t start_cluster, std::uint32_t depth);

  // Whether a directory's chain may go on into `cluster`. Each cluster is
  // walked once by any directory, so a loop or two cross-linked directories
  // are walked once.
  bool first_visit(std::uint32_t cluster) { return walked_clusters_.insert(cluster).second; }

  // Builds a deleted file's candidate and hands it to the sink.
  std::expected<Flow, RecoveryError> deliver(DeletedFileFacts facts) {
    auto candidate = builder_.build(std::move(facts));
    if (!candidate) return std::unexpected(candidate.error());
    if (sink_.accept(std::move(*candidate)) == SinkReply::Stop) stopped_ = true;
    return stopped_ ? Flow::End : Flow::Continue;
  }

  bool stopped() const { return stopped_; }
  ByteSource& source() { return source_; }
  const Fat32Volume& volume() const { return volume_; }
  std::uint32_t cluster_size() const { return cluster_size_; }

 private:
  ByteSource& source_;
  const Fat32Volume& volume_;
  std::uint32_t cluster_size_;
  std::unordered_set<std::uint32_t> walked_clusters_;
  CandidateBuilder builder_;
  CandidateSink& sink_;
  bool stopped_ = false;
};

// The walk of one directory. Its pending long-name entries and its run of
// deleted entries carry over from one of its clusters to the next.
class DirectoryWalk {
 public:
  DirectoryWalk(TreeWalk& tree, std::uint32_t depth)
      : tree_(tree),
        depth_(depth),
        links_(tree.volume().cluster_count),
        piece_(std::min<std::size_t>(tree.cluster_size(), kMaxDirectoryPiece)) {}

  std::expected<void, RecoveryError> run(std::uint32_t start_cluster) {
    if (!links_.starts_at(start_cluster)) return {};
    std::uint32_t cluster = start_cluster;
    for (std::uint32_t walked = 0; walked < kMaxChainClusters; ++walked) {
      if (!tree_.first_visit(cluster)) return {};
      auto flow = visit_cluster(cluster);
      if (!flow) return std::unexpected(flow.error());
      if (*flow == Flow::End) return {};
      auto entry = read_fat_entry(tree_.source(), tree_.volume().fat_offset, cluster);
      if (!entry) return std::unexpected(entry.error());
      const std::optional<std::uint32_t> next = links_.next(*entry);
      if (!next) return {};
      cluster = *next;
    }
    return {};
  }

 private:
  std::expected<Flow, RecoveryError> visit_cluster(std::uint32_t cluster) {
    auto base = cluster_offset(tree_.volume(), cluster);
    if (!base) return std::unexpected(base.error());
    const std::uint64_t cluster_size = tree_.cluster_size();
    for (std::uint64_t position = 0; position < cluster_size; position += piece_.size()) {
      const std::span<std::uint8_t> piece(piece_.data(),
                                          std::min<std::uint64_t>(piece_.size(), cluster_size - position));
      if (auto read = read_exact(tree_.source(), *base + position, piece); !read) return std::unexpected(read.error());
      for (std::size_t at = 0; at + kEntryBytes <= piece.size(); at += kEntryBytes) {
        Fat32DirectoryEntry entry{};
        std::copy_n(piece.begin() + static_cast<std::ptrdiff_t>(at), kEntryBytes, entry.begin());
        if (entry[kStatus] == kEndOfDirectory) return Flow::End;
        auto entry_offset = checked_add(*base, position + at);
        if (!entry_offset) return std::unexpected(entry_offset.error());
        auto flow = visit_entry(entry, *entry_offset);
        if (!flow || *flow == Flow::End) return flow;
      }
    }
    return Flow::Continue;
  }

  std::expected<Flow, RecoveryError> visit_entry(const Fat32DirectoryEntry& entry, std::uint64_t entry_offset) {
    const std::uint8_t attributes = entry[kAttributes];
    if (attributes == kLongNameAttributes) {
      gather_long_name_entry(entry);
      return Flow::Continue;
    }
    if ((attributes & kVolumeLabelBit) != 0) {
      pending_.clear();
      return Flow::Continue;
    }
    const Fat32ShortEntry fields = read_short_entry(entry);
    if (!fields.deleted) return visit_live_entry(entry, fields);
    return visit_deleted_entry(entry, fields, entry_offset);
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

  // A live entry ends the run of deleted ones; a live subdirectory is walked now.
  std::expected<Flow, RecoveryError> visit_live_entry(const Fat32DirectoryEntry& entry, const Fat32ShortEntry& fields) {
    pending_.clear();
    run_.clear();
    if (!fields.is_directory() || fields.cluster() <= 1) return Flow::Continue;
    const std::string name = decode_short_name(entry, false);
    if (name == "." || name == "..") return Flow::Continue;
    if (auto walked = tree_.walk_directory(fields.cluster(), depth_ + 1); !walked) {
      return std::unexpected(walked.error());
    }
    return tree_.stopped() ? Flow::End : Flow::Continue;
  }

  std::expected<Flow, RecoveryError> visit_deleted_entry(const Fat32DirectoryEntry& entry,
                                                         const Fat32ShortEntry& fields, std::uint64_t entry_offset) {
    std::optional<std::string> long_name = assemble_deleted_long_name(pending_, entry);
    pending_.clear();
    if (fields.is_directory() || fields.size == 0) {
      run_.clear();
      return Flow::Continue;
    }
    const std::uint32_t cluster_count = tree_.volume().cluster_count;
    const std::uint32_t start = reconstruct_start_cluster(run_, fields.cluster_high, fields.cluster_low, fields.size,
                                                          tree_.cluster_size(), cluster_count);
    if (!is_usable_start_cluster(start, cluster_count)) return Flow::Continue;

    DeletedFileFacts facts;
    facts.id = candidate_id(FilesystemKind::Fat32, tree_.volume().partition_index, entry_offset);
    facts.partition_index = tree_.volume().partition_index;
    if (long_name) {
      facts.name = std::move(*long_name);
      facts.extra_notes.push_back(kFat32LongNameNote);
    } else {
      facts.name = decode_short_name(entry, true);
    }
    facts.size = fields.size;
    facts.first_cluster = start;
    return tree_.deliver(std::move(facts));
  }

  TreeWalk& tree_;
  std::uint32_t depth_;
  const Fat32Links links_;
  std::vector<std::uint8_t> piece_;
  std::vector<Fat32DirectoryEntry> pending_;
  DeletedRunState run_;
};

std::expected<void, RecoveryError> TreeWalk::walk_directory(std::uint32_t start_cluster, std::uint32_t depth) {
  if (depth > kMaxDepth) return {};
  DirectoryWalk directory(*this, depth);
  return directory.run(start_cluster);
}

}  // namespace

std::expected<void, RecoveryError> scan_fat32_volume(ByteSource& source, const Fat32Volume& volume,
                                                     std::uint32_t root_cluster, CandidateSink& sink) {
  auto size = cluster_size(volume);
  if (!size) return std::unexpected(size.error());
  TreeWalk tree(source, volume, *size, sink);
  return tree.walk_directory(root_cluster, 0);
}

}  // namespace kestrel
