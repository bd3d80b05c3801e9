#include "recovery-core/exfat/exfat_tree_walk.hpp"

#include <algorithm>
#include <deque>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "recovery-core/candidates/candidate_builder.hpp"
#include "recovery-core/candidates/candidate_messages.hpp"
#include "recovery-core/candidates/folder_path.hpp"
#include "recovery-core/chains/chain_walk.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/chains/directory_cluster_budget.hpp"
#include "recovery-core/chains/table_entry_reader.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/exfat/exfat_allocation_bitmap.hpp"
#include "recovery-core/exfat/exfat_cluster_recognition.hpp"
#include "recovery-core/exfat/exfat_deleted_file.hpp"
#include "recovery-core/exfat/exfat_directory.hpp"
#include "recovery-core/exfat/exfat_entry_set.hpp"
#include "recovery-core/exfat/exfat_entry_set_assembler.hpp"
#include "recovery-core/exfat/exfat_messages.hpp"

namespace kestrel {

namespace {

using namespace exfat_entry;

constexpr std::size_t kEntryBytes = std::tuple_size_v<ExfatDirectoryEntry>;
// The deepest subdirectory level walked below the root (depth 0).
constexpr std::uint32_t kMaxDepth = 32;
// Directory clusters are read in pieces of at most this size.
constexpr std::size_t kMaxPiece = std::size_t{64} * 1024;
// What the directories waiting to be read past their end may hold in all
// (their folder paths and the set each was gathering); one that would exceed
// it is not followed.
constexpr std::size_t kMaxWaitingBytes = std::size_t{2} * 1024 * 1024;

enum class Flow { Continue, Stop };
// Where reading one cluster of a directory leaves its walk.
enum class Step { Next, DirectoryEnds, Stop };

// Where a directory sits in the tree and how it was reached.
struct Folder {
  FolderPath path;
  bool inside_deleted = false;                 // it, or a folder above it, was deleted
  std::optional<std::uint32_t> first_cluster;  // absent for the root, whose ids keep their form
  std::uint32_t depth = 0;
  bool live = true;  // reached through live entries of live folders only
};

// A directory whose clusters ran out without an end-of-directory entry, to be
// read on into the free clusters after them.
struct Waiting {
  Folder folder;
  std::uint32_t next_cluster = 0;
  std::uint64_t next_offset = 0;
  ExfatEntrySetAssembler assembler;
};

std::size_t held_bytes(const Waiting& waiting) {
  std::size_t bytes = sizeof(Waiting) + waiting.assembler.set().size();
  for (const std::string& name : waiting.folder.path) bytes += sizeof(std::string) + name.size();
  return bytes;
}

class ExfatTreeWalk;

// The reading of one directory: its clusters in order, with the set being
// gathered carried from one cluster to the next.
class DirectoryPass {
 public:
  DirectoryPass(ExfatTreeWalk& walk, Folder folder);
  DirectoryPass(ExfatTreeWalk& walk, Waiting waiting);

  // The clusters of the directory's own extent. Next when they ran out
  // without an end (then last_cluster() is the last one read).
  std::expected<Step, RecoveryError> read_extent(const ExfatDirectoryExtent& extent);
  // A cluster taken back from free space: read only when it is free, not
  // walked yet, and holds sound entry sets.
  std::expected<Step, RecoveryError> recovered_cluster(std::uint32_t cluster);

  std::optional<std::uint32_t> last_cluster() const { return last_cluster_; }
  // What it takes to go on reading this directory later, at `next_cluster`.
  Waiting waiting_at(std::uint32_t next_cluster) &&;

 private:
  std::expected<Step, RecoveryError> live_cluster(std::uint32_t cluster);
  std::expected<std::optional<std::uint32_t>, RecoveryError> next_of(
      const ExfatDirectoryExtent& extent, std::uint32_t cluster);
  std::expected<Step, RecoveryError> read_entries(std::uint64_t base, bool recovered,
                                                  bool first_piece_held);
  std::expected<Step, RecoveryError> take_piece(std::span<const std::uint8_t> piece,
                                                std::uint64_t position, bool recovered);
  // The root's own data fails the scan where the root scan would; anything
  // else only ends this directory.
  bool strict(bool recovered) const { return folder_.live && !folder_.first_cluster && !recovered; }
  std::expected<Step, RecoveryError> fail(RecoveryError error, bool recovered) const {
    if (strict(recovered)) return std::unexpected(std::move(error));
    return Step::DirectoryEnds;
  }

  ExfatTreeWalk& walk_;
  Folder folder_;
  ExfatEntrySetAssembler assembler_;
  std::vector<std::uint8_t> piece_;
  std::uint64_t offset_ = 0;  // data offset of the next cluster
  std::optional<std::uint32_t> last_cluster_;
};

// What every directory of one volume's walk shares.
class ExfatTreeWalk {
 public:
  ExfatTreeWalk(ByteSource& source, const ExfatGeometry& volume, std::uint32_t partition_index,
                std::uint32_t cluster_size, std::optional<ExfatAllocationBitmap> bitmap,
                CandidateSink& sink)
      : source_(source),
        volume_(volume),
        partition_index_(partition_index),
        cluster_size_(cluster_size),
        bitmap_(std::move(bitmap)),
        budget_(DirectoryClusterBudget::kAllDirectories),
        builder_(source, cluster_area(volume), FilesystemKind::Exfat),
        sink_(sink) {}

  std::expected<void, RecoveryError> run(std::uint32_t root_cluster) {
    auto flow = walk_directory(ExfatDirectoryExtent{root_cluster, false, {}}, Folder{});
    while (flow && *flow == Flow::Continue && !waiting_.empty()) flow = follow_waiting();
    if (!flow) return std::unexpected(flow.error());
    return {};
  }

  // A set the directory pass completed, `strict` when it lies in the root's own data.
  std::expected<Flow, RecoveryError> take_set(std::span<const std::uint8_t> set,
                                              std::uint64_t offset, bool recovered,
                                              const Folder& folder, bool strict) {
    if (recovered && !is_sound_exfat_file_set(set)) return Flow::Continue;
    // A deleted folder's own set (a candidate too, since attributes do not
    // count for that) comes after its files, so that recover-all gives the
    // folder its name and the set's bytes a numbered one.
    auto entered = enter_folder(set, recovered, folder);
    if (!entered || *entered == Flow::Stop) return entered;
    return deliver_deleted_file(set, offset, folder, strict);
  }

  bool is_free(std::uint32_t cluster) { return bitmap_ && bitmap_->is_free(source_, cluster); }
  ByteSource& source() { return source_; }
  const ExfatGeometry& volume() const { return volume_; }
  std::uint32_t cluster_size() const { return cluster_size_; }
  DirectoryClusterBudget& budget() { return budget_; }

 private:
  std::expected<Flow, RecoveryError> walk_directory(const ExfatDirectoryExtent& extent,
                                                    Folder folder);
  std::expected<Flow, RecoveryError> follow_waiting();
  void wait(Waiting waiting);
  std::expected<Flow, RecoveryError> deliver_deleted_file(std::span<const std::uint8_t> set,
                                                          std::uint64_t offset,
                                                          const Folder& folder, bool strict);
  std::expected<Flow, RecoveryError> enter_folder(std::span<const std::uint8_t> set, bool recovered,
                                                  const Folder& folder);

  ByteSource& source_;
  const ExfatGeometry& volume_;
  std::uint32_t partition_index_;
  std::uint32_t cluster_size_;
  std::optional<ExfatAllocationBitmap> bitmap_;
  DirectoryClusterBudget budget_;
  CandidateBuilder builder_;
  CandidateSink& sink_;
  std::deque<Waiting> waiting_;
  std::size_t waiting_bytes_ = 0;
};

DirectoryPass::DirectoryPass(ExfatTreeWalk& walk, Folder folder)
    : walk_(walk),
      folder_(std::move(folder)),
      piece_(std::min<std::size_t>(walk.cluster_size(), kMaxPiece)) {}

DirectoryPass::DirectoryPass(ExfatTreeWalk& walk, Waiting waiting)
    : walk_(walk),
      folder_(std::move(waiting.folder)),
      assembler_(std::move(waiting.assembler)),
      piece_(std::min<std::size_t>(walk.cluster_size(), kMaxPiece)),
      offset_(waiting.next_offset) {}

std::expected<Step, RecoveryError> DirectoryPass::read_extent(const ExfatDirectoryExtent& extent) {
  const std::uint32_t count =
      extent.length
          ? std::min(clusters_needed(*extent.length, walk_.cluster_size()), kMaxChainClusters)
          : kMaxChainClusters;
  std::uint32_t cluster = extent.first_cluster;
  for (std::uint32_t read = 0; read < count; ++read) {
    auto step = folder_.live ? live_cluster(cluster) : recovered_cluster(cluster);
    if (!step || *step != Step::Next) return step;
    last_cluster_ = cluster;
    if (read + 1 == count) break;
    auto next = next_of(extent, cluster);
    if (!next) return fail(next.error(), !folder_.live);
    if (!*next) break;
    cluster = **next;
  }
  return Step::Next;
}

std::expected<std::optional<std::uint32_t>, RecoveryError> DirectoryPass::next_of(
    const ExfatDirectoryExtent& extent, std::uint32_t cluster) {
  if (extent.no_fat_chain) {
    if (cluster == std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return cluster + 1;
  }
  KESTREL_TRY_ASSIGN(entry, read_table_entry(walk_.source(), walk_.volume().fat_offset, cluster));
  return ChainLinks::unbounded().next(*entry);
}

std::expected<Step, RecoveryError> DirectoryPass::live_cluster(std::uint32_t cluster) {
  if (!walk_.budget().claim(cluster)) return Step::DirectoryEnds;
  auto base = cluster_offset(walk_.volume(), cluster);
  if (!base) return fail(base.error(), false);
  return read_entries(*base, false, false);
}

std::expected<Step, RecoveryError> DirectoryPass::recovered_cluster(std::uint32_t cluster) {
  DirectoryClusterBudget& budget = walk_.budget();
  if (budget.walked(cluster) || !walk_.is_free(cluster) || !budget.spend())
    return Step::DirectoryEnds;
  auto base = cluster_offset(walk_.volume(), cluster);
  if (!base || !read_exact(walk_.source(), *base, piece_)) return Step::DirectoryEnds;
  if (!holds_exfat_entry_sets(piece_)) return Step::DirectoryEnds;
  budget.mark(cluster);
  return read_entries(*base, true, true);
}

std::expected<Step, RecoveryError> DirectoryPass::read_entries(std::uint64_t base, bool recovered,
                                                               bool first_piece_held) {
  const std::uint64_t size = walk_.cluster_size();
  for (std::uint64_t position = 0; position < size; position += piece_.size()) {
    if (position > 0 || !first_piece_held) {
      if (auto read = read_exact(walk_.source(), base + position, piece_); !read)
        return fail(read.error(), recovered);
    }
    auto step = take_piece(piece_, position, recovered);
    if (!step || *step != Step::Next) return step;
  }
  offset_ += size;
  return Step::Next;
}

std::expected<Step, RecoveryError> DirectoryPass::take_piece(std::span<const std::uint8_t> piece,
                                                             std::uint64_t position,
                                                             bool recovered) {
  for (std::size_t at = 0; at + kEntryBytes <= piece.size(); at += kEntryBytes) {
    const auto outcome =
        assembler_.add(piece.subspan(at, kEntryBytes), offset_ + position + at, recovered);
    if (outcome == ExfatEntrySetAssembler::Outcome::EndOfDirectory) return Step::DirectoryEnds;
    if (outcome == ExfatEntrySetAssembler::Outcome::Pending) continue;
    const bool set_recovered = assembler_.set_recovered();
    KESTREL_TRY_ASSIGN(flow, walk_.take_set(assembler_.set(), assembler_.set_offset(),
                                            set_recovered, folder_, strict(set_recovered)));
    if (*flow == Flow::Stop) return Step::Stop;
  }
  return Step::Next;
}

Waiting DirectoryPass::waiting_at(std::uint32_t next_cluster) && {
  return Waiting{std::move(folder_), next_cluster, offset_, std::move(assembler_)};
}

std::expected<Flow, RecoveryError> ExfatTreeWalk::walk_directory(const ExfatDirectoryExtent& extent,
                                                                 Folder folder) {
  if (folder.depth > kMaxDepth) return Flow::Continue;
  DirectoryPass pass(*this, std::move(folder));
  KESTREL_TRY_ASSIGN(step, pass.read_extent(extent));
  if (*step == Step::Stop) return Flow::Stop;
  const std::optional<std::uint32_t> last = pass.last_cluster();
  if (*step == Step::Next && last && *last < std::numeric_limits<std::uint32_t>::max()) {
    wait(std::move(pass).waiting_at(*last + 1));
  }
  return Flow::Continue;
}

void ExfatTreeWalk::wait(Waiting waiting) {
  if (budget_.walked(waiting.next_cluster) || !is_free(waiting.next_cluster)) return;
  const std::size_t bytes = held_bytes(waiting);
  if (waiting_bytes_ + bytes > kMaxWaitingBytes) return;
  waiting_bytes_ += bytes;
  waiting_.push_back(std::move(waiting));
}

std::expected<Flow, RecoveryError> ExfatTreeWalk::follow_waiting() {
  Waiting waiting = std::move(waiting_.front());
  waiting_.pop_front();
  waiting_bytes_ -= held_bytes(waiting);
  std::uint32_t cluster = waiting.next_cluster;
  DirectoryPass pass(*this, std::move(waiting));
  for (;;) {
    KESTREL_TRY_ASSIGN(step, pass.recovered_cluster(cluster));
    if (*step == Step::Stop) return Flow::Stop;
    if (*step == Step::DirectoryEnds || cluster == std::numeric_limits<std::uint32_t>::max())
      return Flow::Continue;
    ++cluster;
  }
}

std::expected<Flow, RecoveryError> ExfatTreeWalk::deliver_deleted_file(
    std::span<const std::uint8_t> set, std::uint64_t offset, const Folder& folder, bool strict) {
  std::optional<DeletedFileFacts> facts = exfat_deleted_file(set, partition_index_);
  if (!facts) return Flow::Continue;
  facts->id = folder.first_cluster
                  ? exfat_folder_candidate_id(partition_index_, *folder.first_cluster, offset)
                  : candidate_id(FilesystemKind::Exfat, partition_index_, offset);
  facts->directory = folder.path;
  if (folder.inside_deleted) facts->extra_notes.push_back(kInsideDeletedFolderNote);
  auto candidate = builder_.build(std::move(*facts));
  if (!candidate) {
    if (strict) return std::unexpected(candidate.error());
    return Flow::Continue;
  }
  return sink_.accept(std::move(*candidate)) == SinkReply::Stop ? Flow::Stop : Flow::Continue;
}

std::expected<Flow, RecoveryError> ExfatTreeWalk::enter_folder(std::span<const std::uint8_t> set,
                                                               bool recovered,
                                                               const Folder& folder) {
  const std::optional<ExfatStreamFacts> stream = find_stream_extension(set);
  if (!is_directory_set(set) || !stream || stream->first_cluster < 2 || stream->data_length == 0) {
    return Flow::Continue;
  }
  const bool deleted = (set[kType] & kInUseBit) == 0;
  Folder child;
  child.path = folder.path;
  std::string name = entry_set_name(set, stream->name_length);
  child.path.push_back(name.empty() ? std::string(kExfatUnnamedFile) : std::move(name));
  child.inside_deleted = folder.inside_deleted || deleted;
  child.first_cluster = stream->first_cluster;
  child.depth = folder.depth + 1;
  child.live = folder.live && !recovered && !deleted;
  return walk_directory(
      ExfatDirectoryExtent{stream->first_cluster, stream->no_fat_chain, stream->data_length},
      std::move(child));
}

}  // namespace

std::expected<void, RecoveryError> scan_exfat_tree(ByteSource& source, const ExfatGeometry& volume,
                                                   std::uint32_t partition_index,
                                                   std::uint32_t root_cluster,
                                                   CandidateSink& sink) {
  KESTREL_TRY_ASSIGN(bytes_per_cluster, cluster_size(volume));
  ExfatTreeWalk walk(source, volume, partition_index, *bytes_per_cluster,
                     ExfatAllocationBitmap::locate(source, volume, root_cluster), sink);
  return walk.run(root_cluster);
}

}  // namespace kestrel
