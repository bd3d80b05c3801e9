#include "recovery-core/fat/fat_directory.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "recovery-core/candidates/candidate_builder.hpp"
#include "recovery-core/candidates/candidate_messages.hpp"
#include "recovery-core/candidates/folder_path.hpp"
#include "recovery-core/chains/chain_walk.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/chains/directory_cluster_budget.hpp"
#include "recovery-core/content/content_check.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/fat/fat32_start_cluster.hpp"
#include "recovery-core/fat/fat_directory_entry.hpp"
#include "recovery-core/fat/fat_entry_dates.hpp"
#include "recovery-core/fat/fat_entry_name.hpp"
#include "recovery-core/fat/fat_messages.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

using namespace fat32_entry;

constexpr std::size_t kEntryBytes = std::tuple_size_v<Fat32DirectoryEntry>;
// The deepest subdirectory level walked below the root (depth 0).
constexpr std::uint32_t kMaxDepth = 32;
// Directory clusters are read in pieces of at most this size, so that a deep
// walk over a volume with huge clusters holds little memory.
constexpr std::size_t kMaxDirectoryPiece = std::size_t{256} * 1024;
// A cleared high word leaves 65,536 clusters between the candidates for a folder's cluster.
constexpr std::uint64_t kHighWordStep = 65536;
// How far past a recovered folder's cluster its next one is looked for. A
// folder grows when its cluster fills, and the files written into it meanwhile
// usually lie between the two; beyond this the search gives up.
constexpr std::uint64_t kFolderContinuationWindow = 128;
// The bits of a FAT32 entry that hold the next cluster; the top four are reserved.
constexpr std::uint32_t kFat32EntryBits = 0x0FFFFFFF;

// The note of a candidate named by its deleted long-name entries.
std::string_view long_name_note(FatWidth width) {
  switch (width) {
    case FatWidth::Fat12:
      return kFat12LongNameNote;
    case FatWidth::Fat16:
      return kFat16LongNameNote;
    case FatWidth::Fat32:
      break;
  }
  return kFat32LongNameNote;
}

// Whether a directory's walk goes on after an entry or a cluster.
enum class Flow { Continue, End };

// Where a directory sits in the tree and how it was reached (the path is kept
// only by a walk of every folder).
struct Folder {
  FolderPath path;
  bool inside_deleted = false;  // it, or a folder above it, was deleted
  bool recovered = false;       // reached through a deleted folder: its damage ends only itself
};

// What every directory of one volume's walk shares: the clusters already
// walked, the depth limit, the candidate builder and the sink.
class TreeWalk {
 public:
  TreeWalk(ByteSource& source, const FatGeometry& volume, std::uint32_t cluster_size,
           CandidateSink& sink, Fat32Walk walk, bool lost = false)
      : source_(source),
        volume_(volume),
        cluster_size_(cluster_size),
        all_directories_(walk == Fat32Walk::AllDirectories || lost),
        lost_(lost),
        budget_(all_directories_ ? DirectoryClusterBudget::kAllDirectories
                                 : DirectoryClusterBudget::kUnlimited),
        builder_(source, cluster_area(volume), kind_of(volume)),
        sink_(sink) {}

  // The directory starting at `start_cluster`, `depth` levels below the root,
  // and, depth first, its subdirectories.
  std::expected<void, RecoveryError> walk_directory(std::uint32_t start_cluster,
                                                    std::uint32_t depth, Folder folder);

  // The root directory: the chain from `root_cluster` on FAT32, the fixed
  // region after the FATs on FAT12 and FAT16.
  std::expected<void, RecoveryError> walk_root(std::uint32_t root_cluster);

  // Whether a directory's chain may go on into `cluster`. Each cluster is
  // walked once by any directory, so a loop or two cross-linked directories
  // are walked once.
  bool first_visit(std::uint32_t cluster) { return budget_.claim(cluster); }

  // The first cluster of a folder reached through a deleted folder or deleted
  // itself: free, not walked, and starting with "." naming it and "..". With a
  // cleared high word (and `exact` false) every 65,536-cluster band is tried.
  std::optional<std::uint32_t> find_folder_cluster(const Fat32ShortEntry& fields, bool exact);

  // Where a recovered folder whose chain was cleared goes on after `cluster`:
  // the first free, unwalked cluster a little further on that starts with
  // well-formed directory entries. Nothing when another folder's first cluster
  // comes before it.
  std::optional<std::uint32_t> following_folder_cluster(std::uint32_t cluster);

  // Builds a deleted file's candidate and hands it to the sink. A file of a
  // recovered folder that cannot be built is passed over.
  std::expected<Flow, RecoveryError> deliver(DeletedFileFacts facts, bool recovered) {
    auto candidate = builder_.build(std::move(facts));
    if (!candidate) {
      if (recovered) return Flow::Continue;
      return std::unexpected(candidate.error());
    }
    if (sink_.accept(std::move(*candidate)) == SinkReply::Stop) stopped_ = true;
    return stopped_ ? Flow::End : Flow::Continue;
  }

  // Whether the data at `cluster` is of the kind `name`'s extension promises.
  bool content_confirms(std::uint32_t cluster, std::uint64_t size, std::string_view name) {
    if (!is_usable_start_cluster(cluster, volume_.cluster_count)) return false;
    auto offset = cluster_offset(volume_, cluster);
    return offset && content_matches_name(source_, *offset, size, name);
  }

  bool all_directories() const { return all_directories_; }
  // Listing one directory no walk reaches: its live files too, no folders entered, no paths.
  bool lost() const { return lost_; }
  bool stopped() const { return stopped_; }
  ByteSource& source() { return source_; }
  const FatGeometry& volume() const { return volume_; }
  std::uint32_t cluster_size() const { return cluster_size_; }

 private:
  bool holds_folder(std::uint32_t cluster);

  ByteSource& source_;
  const FatGeometry& volume_;
  std::uint32_t cluster_size_;
  bool all_directories_;
  bool lost_;
  DirectoryClusterBudget budget_;
  CandidateBuilder builder_;
  CandidateSink& sink_;
  bool stopped_ = false;
};

// The walk of one directory. Its pending long-name entries and its run of
// deleted entries carry over from one of its clusters to the next.
class DirectoryWalk {
 public:
  DirectoryWalk(TreeWalk& tree, std::uint32_t depth, Folder folder)
      : tree_(tree),
        depth_(depth),
        folder_(std::move(folder)),
        links_(ChainLinks::bounded(tree.volume().cluster_count)),
        piece_(std::min<std::size_t>(tree.cluster_size(), kMaxDirectoryPiece)) {}

  // A FAT12/16 root directory: `length` bytes at `offset`, outside the clusters.
  std::expected<void, RecoveryError> run_region(std::uint64_t offset, std::uint64_t length) {
    restart_run();
    auto flow = visit_bytes(offset, length);
    if (!flow) return std::unexpected(flow.error());
    return {};
  }

  std::expected<void, RecoveryError> run(std::uint32_t start_cluster) {
    if (!links_.starts_at(start_cluster)) return {};
    // A folder found again through its "." entry counts its own cluster as
    // taken: files made in it came after it, which bounds a cleared high word.
    if (folder_.recovered) floor_seed_ = start_cluster + 1;
    restart_run();
    std::uint32_t cluster = start_cluster;
    for (std::uint32_t walked = 0; walked < kMaxChainClusters; ++walked) {
      if (!tree_.first_visit(cluster)) return {};
      auto flow = visit_cluster(cluster);
      if (!flow) return quiet_if_recovered(flow.error());
      if (*flow == Flow::End) return {};
      auto entry = read_table_entry(tree_.source(), tree_.volume().fat_offset, cluster,
                                    cluster_area(tree_.volume()).width);
      if (!entry) return quiet_if_recovered(entry.error());
      std::optional<std::uint32_t> next = links_.next(*entry);
      // Deleting a folder clears its chain too, so past its first cluster a
      // recovered folder is read on into the free clusters right after it
      // while they still hold directory entries.
      if (!next && folder_.recovered && (*entry & kFat32EntryBits) == 0)
        next = tree_.following_folder_cluster(cluster);
      if (!next) return {};
      cluster = *next;
    }
    return {};
  }

 private:
  // Starts a new run of deleted entries, bounded below by the folder's own
  // cluster when the folder was found again through its "." entry.
  void restart_run() {
    run_.clear();
    if (floor_seed_ != 0) {
      run_.has_floor = true;
      run_.floor = floor_seed_;
    }
  }

  std::expected<void, RecoveryError> quiet_if_recovered(RecoveryError error) const {
    if (folder_.recovered) return {};
    return std::unexpected(std::move(error));
  }

  std::expected<Flow, RecoveryError> visit_cluster(std::uint32_t cluster) {
    KESTREL_TRY_ASSIGN(base, cluster_offset(tree_.volume(), cluster));
    return visit_bytes(*base, tree_.cluster_size());
  }

  // The entries of `length` bytes of directory from `base` on, read in pieces.
  std::expected<Flow, RecoveryError> visit_bytes(std::uint64_t base, std::uint64_t length) {
    for (std::uint64_t position = 0; position < length; position += piece_.size()) {
      const std::span<std::uint8_t> piece(
          piece_.data(), std::min<std::uint64_t>(piece_.size(), length - position));
      KESTREL_TRY_ASSIGN(at_piece, checked_add(base, position));
      KESTREL_TRY(read_exact(tree_.source(), *at_piece, piece));
      for (std::size_t at = 0; at + kEntryBytes <= piece.size(); at += kEntryBytes) {
        Fat32DirectoryEntry entry{};
        std::copy_n(piece.begin() + static_cast<std::ptrdiff_t>(at), kEntryBytes, entry.begin());
        if (entry[kStatus] == kEndOfDirectory) return Flow::End;
        KESTREL_TRY_ASSIGN(entry_offset, checked_add(base, position + at));
        auto flow = visit_entry(entry, *entry_offset);
        if (!flow || *flow == Flow::End) return flow;
      }
    }
    return Flow::Continue;
  }

  std::expected<Flow, RecoveryError> visit_entry(const Fat32DirectoryEntry& entry,
                                                 std::uint64_t entry_offset) {
    const std::uint8_t attributes = entry[kAttributes];
    if (attributes == kLongNameAttributes) {
      gather_long_name_entry(entry);
      return Flow::Continue;
    }
    std::vector<Fat32DirectoryEntry> live_pieces = std::move(live_pieces_);
    live_pieces_.clear();
    if ((attributes & kVolumeLabelBit) != 0) {
      pending_.clear();
      return Flow::Continue;
    }
    const Fat32ShortEntry fields = read_short_entry(entry, tree_.volume().width);
    if (!fields.deleted) return visit_live_entry(entry, fields, live_pieces, entry_offset);
    return visit_deleted_entry(entry, fields, entry_offset);
  }

  void gather_long_name_entry(const Fat32DirectoryEntry& entry) {
    if (!is_deleted_long_name_entry(entry)) {
      pending_.clear();
      gather_live_piece(entry);
      return;
    }
    live_pieces_.clear();
    if (!pending_.empty() && entry[kLongNameChecksum] != pending_.front()[kLongNameChecksum])
      pending_.clear();
    if (pending_.size() == kMaxPendingLongNameEntries) {
      pending_.clear();
      return;
    }
    pending_.push_back(entry);
  }

  // Live long-name entries name the folders of a walk that gives paths.
  void gather_live_piece(const Fat32DirectoryEntry& entry) {
    if (!tree_.all_directories() || entry[kStatus] == kDeleted) {
      live_pieces_.clear();
      return;
    }
    if (live_pieces_.size() == kMaxPendingLongNameEntries) live_pieces_.clear();
    live_pieces_.push_back(entry);
  }

  // A live entry ends the run of deleted ones; a live subdirectory is walked now.
  std::expected<Flow, RecoveryError> visit_live_entry(
      const Fat32DirectoryEntry& entry, const Fat32ShortEntry& fields,
      const std::vector<Fat32DirectoryEntry>& live_pieces, std::uint64_t entry_offset) {
    pending_.clear();
    restart_run();
    if (tree_.lost()) return deliver_lost_live_file(entry, fields, live_pieces, entry_offset);
    if (!fields.is_directory() || fields.cluster() <= 1) return Flow::Continue;
    const std::string short_name = decode_short_name(entry, false);
    if (short_name == "." || short_name == "..") return Flow::Continue;
    if (!tree_.all_directories()) return enter(fields.cluster(), Folder{});
    Folder child =
        child_folder(assemble_live_long_name(live_pieces, entry).value_or(short_name), false);
    if (!folder_.recovered) return enter(fields.cluster(), std::move(child));
    return enter_recovered(fields, true, std::move(child));
  }

  std::expected<Flow, RecoveryError> visit_deleted_entry(const Fat32DirectoryEntry& entry,
                                                         const Fat32ShortEntry& fields,
                                                         std::uint64_t entry_offset) {
    std::optional<std::string> long_name = assemble_deleted_long_name(pending_, entry);
    pending_.clear();
    if (fields.is_directory() || fields.size == 0) {
      restart_run();
      if (!fields.is_directory() || !tree_.all_directories() || tree_.lost()) return Flow::Continue;
      return enter_recovered(
          fields, false, child_folder(long_name.value_or(decode_short_name(entry, true)), true));
    }
    const bool named_long = long_name.has_value();
    std::string name = named_long ? std::move(*long_name) : decode_short_name(entry, true);
    const std::uint32_t start = start_cluster_of(fields, name);
    if (!is_usable_start_cluster(start, tree_.volume().cluster_count)) {
      restart_run();
      return Flow::Continue;
    }

    DeletedFileFacts facts;
    facts.id = candidate_id(kind_of(tree_.volume()), tree_.volume().partition_index, entry_offset);
    facts.partition_index = tree_.volume().partition_index;
    facts.name = std::move(name);
    if (named_long) facts.extra_notes.push_back(long_name_note(tree_.volume().width));
    facts.size = fields.size;
    facts.first_cluster = start;
    facts.start_rebuilt = start != fields.cluster();
    facts.dates = fat_entry_dates_of(entry);
    if (tree_.lost()) {
      facts.extra_notes.push_back(kLostDirectoryNote);
    } else if (tree_.all_directories()) {
      facts.directory = folder_.path;
      if (folder_.inside_deleted) facts.extra_notes.push_back(kInsideDeletedFolderNote);
    }
    return tree_.deliver(std::move(facts), folder_.recovered);
  }

  // A live file of a directory no walk reaches: nothing else lists it.
  std::expected<Flow, RecoveryError> deliver_lost_live_file(
      const Fat32DirectoryEntry& entry, const Fat32ShortEntry& fields,
      const std::vector<Fat32DirectoryEntry>& live_pieces, std::uint64_t entry_offset) {
    if (fields.is_directory() || fields.size == 0 ||
        !is_usable_start_cluster(fields.cluster(), tree_.volume().cluster_count)) {
      return Flow::Continue;
    }
    DeletedFileFacts facts;
    facts.id = candidate_id(kind_of(tree_.volume()), tree_.volume().partition_index, entry_offset);
    facts.partition_index = tree_.volume().partition_index;
    facts.name =
        assemble_live_long_name(live_pieces, entry).value_or(decode_short_name(entry, false));
    facts.size = fields.size;
    facts.first_cluster = fields.cluster();
    facts.deleted = false;
    facts.dates = fat_entry_dates_of(entry);
    facts.extra_notes.push_back(kLostDirectoryNote);
    return tree_.deliver(std::move(facts), true);
  }

  // The start cluster of a deleted file. FAT12/16 entries hold it whole. A FAT32
  // entry with a cleared high word is raised past the run before it (see
  // reconstruct_start_cluster), except in a folder found again: its files may
  // lie below its own cluster, so the stored number is kept when the content
  // there is what the name says.
  std::uint32_t start_cluster_of(const Fat32ShortEntry& fields, std::string_view name) {
    const FatGeometry& volume = tree_.volume();
    if (volume.width != FatWidth::Fat32 ||
        (folder_.recovered && fields.cluster_high == 0 &&
         tree_.content_confirms(fields.cluster_low, fields.size, name))) {
      return keep_start_cluster(run_, fields.cluster(), fields.cluster_low, fields.size,
                                tree_.cluster_size(), volume.cluster_count);
    }
    return reconstruct_start_cluster(run_, fields.cluster_high, fields.cluster_low, fields.size,
                                     tree_.cluster_size(), volume.cluster_count);
  }

  Folder child_folder(std::string name, bool deleted) const {
    Folder child{folder_.path, folder_.inside_deleted || deleted, folder_.recovered || deleted};
    child.path.push_back(std::move(name));
    return child;
  }

  std::expected<Flow, RecoveryError> enter(std::uint32_t cluster, Folder child) {
    KESTREL_TRY(tree_.walk_directory(cluster, depth_ + 1, std::move(child)));
    return tree_.stopped() ? Flow::End : Flow::Continue;
  }

  // A folder reached through a deleted entry, or inside a deleted folder.
  std::expected<Flow, RecoveryError> enter_recovered(const Fat32ShortEntry& fields, bool exact,
                                                     Folder child) {
    if (depth_ + 1 > kMaxDepth) return Flow::Continue;
    const std::optional<std::uint32_t> cluster = tree_.find_folder_cluster(fields, exact);
    if (!cluster) return Flow::Continue;
    return enter(*cluster, std::move(child));
  }

  TreeWalk& tree_;
  std::uint32_t depth_;
  Folder folder_;
  const ChainLinks links_;
  std::vector<std::uint8_t> piece_;
  std::vector<Fat32DirectoryEntry> pending_;
  std::vector<Fat32DirectoryEntry> live_pieces_;
  DeletedRunState run_;
  std::uint32_t floor_seed_ = 0;  // 0: runs start with no floor
};

std::expected<void, RecoveryError> TreeWalk::walk_root(std::uint32_t root_cluster) {
  if (volume_.root_bytes == 0) return walk_directory(root_cluster, 0, Folder{});
  DirectoryWalk root(*this, 0, Folder{});
  return root.run_region(volume_.root_offset, volume_.root_bytes);
}

std::expected<void, RecoveryError> TreeWalk::walk_directory(std::uint32_t start_cluster,
                                                            std::uint32_t depth, Folder folder) {
  if (depth > kMaxDepth) return {};
  DirectoryWalk directory(*this, depth, std::move(folder));
  return directory.run(start_cluster);
}

std::optional<std::uint32_t> TreeWalk::find_folder_cluster(const Fat32ShortEntry& fields,
                                                           bool exact) {
  const ChainLinks links = ChainLinks::bounded(volume_.cluster_count);
  // FAT12 and FAT16 clusters have no high word to lose.
  const bool every_band = fields.cluster_high == 0 && !exact && volume_.width == FatWidth::Fat32;
  for (std::uint64_t cluster = fields.cluster(); cluster < links.limit; cluster += kHighWordStep) {
    const auto number = static_cast<std::uint32_t>(cluster);
    if (links.starts_at(number) && !budget_.walked(number)) {
      if (!budget_.spend()) return std::nullopt;
      if (holds_folder(number)) return number;
    }
    if (!every_band) break;
  }
  return std::nullopt;
}

std::optional<std::uint32_t> TreeWalk::following_folder_cluster(std::uint32_t cluster) {
  const ChainLinks links = ChainLinks::bounded(volume_.cluster_count);
  const std::uint64_t last = std::min<std::uint64_t>(
      std::uint64_t{cluster} + kFolderContinuationWindow, links.limit - std::uint64_t{1});
  for (std::uint64_t following = std::uint64_t{cluster} + 1; following <= last; ++following) {
    const auto number = static_cast<std::uint32_t>(following);
    if (budget_.walked(number)) continue;
    if (!budget_.spend()) return std::nullopt;
    auto entry = read_table_entry(source_, volume_.fat_offset, number, cluster_area(volume_).width);
    if (!entry || (*entry & kFat32EntryBits) != 0) continue;
    auto base = cluster_offset(volume_, number);
    std::array<std::uint8_t, kFat32ContinuedDirectoryBytes> start{};
    if (!base || !read_exact(source_, *base, start)) continue;
    if (starts_fat32_directory(start, number, volume_.width))
      return std::nullopt;  // another folder begins here
    if (continues_fat32_directory(start)) return number;
  }
  return std::nullopt;
}

// Whether the free cluster still starts the directory that lived there.
bool TreeWalk::holds_folder(std::uint32_t cluster) {
  auto base = cluster_offset(volume_, cluster);
  std::array<std::uint8_t, kFat32DirectoryStartBytes> start{};
  if (!base || !read_exact(source_, *base, start) ||
      !starts_fat32_directory(start, cluster, volume_.width))
    return false;
  auto entry = read_table_entry(source_, volume_.fat_offset, cluster, cluster_area(volume_).width);
  return entry && (*entry & kFat32EntryBits) == 0;
}

}  // namespace

std::expected<void, RecoveryError> scan_fat32_volume(ByteSource& source, const FatGeometry& volume,
                                                     std::uint32_t root_cluster,
                                                     CandidateSink& sink, Fat32Walk walk) {
  KESTREL_TRY_ASSIGN(size, cluster_size(volume));
  TreeWalk tree(source, volume, *size, sink, walk);
  return tree.walk_root(root_cluster);
}

std::expected<SinkReply, RecoveryError> list_lost_fat32_directory(ByteSource& source,
                                                                  const FatGeometry& volume,
                                                                  std::uint32_t cluster,
                                                                  CandidateSink& sink) {
  KESTREL_TRY_ASSIGN(size, cluster_size(volume));
  TreeWalk tree(source, volume, *size, sink, Fat32Walk::AllDirectories, true);
  Folder folder;
  folder.recovered = true;
  KESTREL_TRY(tree.walk_directory(cluster, 0, std::move(folder)));
  return tree.stopped() ? SinkReply::Stop : SinkReply::Continue;
}

}  // namespace kestrel
