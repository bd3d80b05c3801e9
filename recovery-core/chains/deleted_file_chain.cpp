#include "recovery-core/chains/deleted_file_chain.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <variant>

#include "recovery-core/chains/chain_walk.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// The file's clusters from a walk that wanted them: none when the walk failed
// or the chain is shorter than the file.
bool holds_file(const ChainWalk& walk, std::uint32_t needed) {
  return !walk.failure && walk.clusters.size() >= needed;
}

// The deleted-file rules on the file's own walk, without the memo: the walk
// stops once it holds the `needed` clusters (a file needing 1 reads nothing).
std::expected<std::uint32_t, RecoveryError> count_by_walk(TableEntryReader& read,
                                                          const ClusterArea& volume,
                                                          std::uint32_t first_cluster,
                                                          std::uint32_t needed) {
  const ChainWalk walk = walk_area_chain(read, volume, first_cluster, needed);
  if (!holds_file(walk, needed)) return 0;
  for (std::uint32_t i = 0; i < needed; ++i) {
    KESTREL_TRY(cluster_offset(volume, walk.clusters[i]));
  }
  return needed;
}

// Facts of a cluster whose walk continues with a walk that has `rest`.
ChainFacts prepend(bool mapped, const ChainFacts& rest) {
  ChainFacts facts;
  facts.length = std::min(rest.length + 1, kLongerThanCap);
  facts.ends_unreadable = facts.length != kLongerThanCap && rest.ends_unreadable;
  if (!mapped) {
    facts.unmapped_index = 0;
  } else {
    facts.unmapped_index = rest.unmapped_index >= kNoUnmappedCluster - 1 ? kNoUnmappedCluster
                                                                         : rest.unmapped_index + 1;
  }
  return facts;
}

}  // namespace

// The memo's walks and the rules that turn a cluster's facts into a file's count.
class DeletedChainResolver {
 public:
  static std::expected<std::uint32_t, RecoveryError> count(ByteSource& source,
                                                           const ClusterArea& volume,
                                                           std::uint32_t first_cluster,
                                                           std::uint64_t size,
                                                           DeletedChainMemo& memo) {
    KESTREL_TRY_ASSIGN(bytes, cluster_size(volume));
    const std::uint32_t needed = clusters_needed(size, *bytes);
    // A chain never holds more than the cap, so such a file never gets offsets.
    if (needed == 0 || needed > kMaxChainClusters) return 0;
    const ChainLinks links = ChainLinks::of(volume);
    if (!links.starts_at(first_cluster)) return 0;

    if (memo.source_ != &source || memo.area_ != volume) {
      memo.facts_.clear();
      memo.cache_.clear();
      memo.recent_starts_.assign(DeletedChainMemo::kRecentStarts, {});
      memo.source_ = &source;
      memo.area_ = volume;
    }
    TableEntryReader read(source, &memo.cache_, volume.width);
    // One cluster needs no FAT entry at all.
    if (needed == 1) return count_by_walk(read, volume, first_cluster, needed);

    DeletedChainMemo::RecentStart& recent =
        memo.recent_starts_[first_cluster % DeletedChainMemo::kRecentStarts];
    std::optional<ChainFacts> facts;
    if (recent.cluster == first_cluster) {
      facts = recent.facts;
    } else if (auto anchor = memo.facts_.find(first_cluster)) {
      facts = anchor->facts;
    } else {
      facts = Walk(memo, read, volume, links).facts_of(first_cluster);
    }
    if (facts) recent = {first_cluster, *facts};
    // A full table, or a FAT that reads differently from before: the file's own walk.
    if (!facts) return count_by_walk(read, volume, first_cluster, needed);
    return answer(*facts, needed, read, volume, first_cluster);
  }

 private:
  // The count a walk wanting `needed` clusters gives, from the facts of a full walk:
  // such a walk reads the FAT entries of its first needed - 1 clusters (all
  // `needed` at the cap, where it reads on as a full walk does), and a failed read
  // drops the chain.
  static std::expected<std::uint32_t, RecoveryError> answer(const ChainFacts& facts,
                                                            std::uint32_t needed,
                                                            TableEntryReader& read,
                                                            const ClusterArea& volume,
                                                            std::uint32_t first_cluster) {
    const std::uint32_t length = std::min(facts.length, kMaxChainClusters);
    const bool last_read_failed = facts.ends_unreadable && facts.length <= kMaxChainClusters;
    const bool holds =
        length > needed || (length == needed && (needed < kMaxChainClusters || !last_read_failed));
    if (!holds) return 0;
    // A cluster without an offset among the file's: the file's own walk names it
    // in its error (one walk, after which the scan stops).
    if (facts.unmapped_index < needed) return count_by_walk(read, volume, first_cluster, needed);
    return needed;
  }

  // One walk of the memo from a start the table does not hold.
  class Walk {
   public:
    Walk(DeletedChainMemo& memo, TableEntryReader& read, const ClusterArea& volume,
         const ChainLinks& links)
        : path_(memo.path_), table_(memo.facts_), read_(read), volume_(volume), links_(links) {}

    // The facts of the walk from `first`, after remembering anchors along it;
    // nothing when the table is full (or the FAT does not read as it did).
    std::optional<ChainFacts> facts_of(std::uint32_t first) {
      if (table_.room() == 0) return std::nullopt;
      path_.start();
      std::uint32_t cluster = first;
      for (;;) {
        if (auto anchor = table_.find(cluster)) return from_anchor(*anchor, cluster);
        if (auto at = path_.find(cluster)) return from_loop(*at);
        if (path_.size() == DeletedChainMemo::kWalkLimit) return from_truncated();
        path_.push(cluster);
        auto entry = read_(volume_.table_offset, cluster);
        if (!entry) return from_end(true);
        const std::optional<std::uint32_t> next = links_.next(*entry);
        if (!next) return from_end(false);
        cluster = *next;
      }
    }

   private:
    static constexpr std::uint32_t kStride = DeletedChainMemo::kAnchorStride;

    bool mapped(std::size_t index) const {
      return cluster_offset(volume_, path_[index]).has_value();
    }

    // The chain ended after the path: a free, reserved, bad or end entry, a next
    // cluster outside the volume, or a FAT entry that could not be read.
    std::optional<ChainFacts> from_end(bool unreadable) {
      ChainFacts end;
      end.ends_unreadable = unreadable;
      return fill_line(path_.size(), end, false);
    }

    // The walk reached kWalkLimit clusters: each of the first kWalkLimit - 65,535
    // has at least 65,536 clusters on the path from it and reads the last one's
    // entry (and any cluster without an offset among its first 65,536 lies on the
    // path), so their facts are known; the rest are not. The last 65,535 are
    // folded into a stand-in for what follows the line: longer than the cap, with
    // the place of their first cluster without an offset.
    std::optional<ChainFacts> from_truncated() {
      const std::size_t count = path_.size();
      const std::size_t line_end = count - kMaxChainClusters + 1;
      ChainFacts rest;
      rest.length = kLongerThanCap;
      for (std::size_t i = count; i-- > line_end;) rest = prepend(mapped(i), rest);
      return fill_line(line_end, rest, true);
    }

    // The path came back to its own cluster at `loop_start`: the clusters from
    // there on form a loop, and a walk from any of them goes once around it.
    std::optional<ChainFacts> from_loop(std::uint32_t loop_start) {
      const std::size_t count = path_.size();
      const std::size_t loop_length = count - loop_start;
      const std::uint32_t length = loop_length > kMaxChainClusters
                                       ? kLongerThanCap
                                       : static_cast<std::uint32_t>(loop_length);
      // Twice round the loop, backwards: the second round gives each cluster the
      // distance to the first cluster without an offset ahead of it on the loop.
      std::vector<ChainFacts>& loop = loop_facts_;
      loop.assign(loop_length, ChainFacts{});
      ChainFacts rest;
      rest.length = 0;
      for (int round = 0; round < 2; ++round) {
        for (std::size_t i = count; i-- > loop_start;) {
          rest = prepend(mapped(i), rest);
          rest.length = length;
          rest.ends_unreadable = false;
          if (round == 1) loop[i - loop_start] = rest;
        }
      }
      if (loop_length >= kStride) anchor_loop(loop_start, length != kLongerThanCap);
      return fill_line(loop_start, loop[0], false);
    }

    // Anchors every kStride clusters round the loop that starts at path index
    // `loop_start` (its facts in loop_facts_), each naming the one before it:
    // all of them or, when the table has no room for all, none.
    void anchor_loop(std::size_t loop_start, bool on_loop) {
      const std::size_t count = path_.size();
      std::vector<std::size_t> anchors;
      for (std::size_t offset = 0; offset < count - loop_start; offset += kStride)
        anchors.push_back(count - 1 - offset);
      if (table_.room() < anchors.size()) return;
      for (std::size_t k = 0; k < anchors.size(); ++k) {
        const std::size_t previous = anchors[(k + 1) % anchors.size()];
        ChainAnchor anchor;
        anchor.facts = loop_facts_[anchors[k] - loop_start];
        anchor.on_loop = on_loop;
        anchor.previous_on_loop = path_[previous];
        table_.insert(path_[anchors[k]], anchor);
      }
    }

    // The path met a cluster the table holds.
    std::optional<ChainFacts> from_anchor(const ChainAnchor& anchor, std::uint32_t cluster) {
      const std::size_t count = path_.size();
      if (!anchor.on_loop) return fill_line(count, anchor.facts, false);
      // The path may have come along the anchor's loop: its last clusters are then
      // the loop's clusters between the previous anchor and this one.
      std::array<std::uint32_t, kStride> between{};
      std::size_t between_count = 0;
      std::uint32_t at = anchor.previous_on_loop;
      for (;;) {
        auto entry = read_(volume_.table_offset, at);
        if (!entry) return std::nullopt;
        const std::optional<std::uint32_t> next = links_.next(*entry);
        if (!next) return std::nullopt;
        if (*next == cluster) break;
        if (between_count == between.size()) return std::nullopt;
        between[between_count++] = *next;
        at = *next;
      }
      std::size_t on_loop = 0;
      while (on_loop < std::min(between_count, count) &&
             path_[count - 1 - on_loop] == between[between_count - 1 - on_loop]) {
        ++on_loop;
      }
      ChainFacts rest = anchor.facts;
      for (std::size_t i = count; i-- > count - on_loop;) {
        rest = prepend(mapped(i), rest);
        rest.length = anchor.facts.length;
        rest.ends_unreadable = false;
      }
      return fill_line(count - on_loop, rest, false);
    }

    // Works out the facts of path clusters [0, line_end) from `rest`, the facts of
    // the walk that follows them, and remembers every kStride-th counting back
    // from the end of the line, so that a later walk that joins the line meets an
    // anchor (or what follows the line) within kStride clusters. When what follows
    // is not known (`last_is_anchor`, a walk cut off at its limit), the counting
    // starts at the line's last cluster. Returns the facts of the first cluster.
    ChainFacts fill_line(std::size_t line_end, ChainFacts rest, bool last_is_anchor) {
      bool room = true;
      for (std::size_t i = line_end; i-- > 0;) {
        rest = prepend(mapped(i), rest);
        const std::size_t back = line_end - i - (last_is_anchor ? 1 : 0);
        if (room && back % kStride == 0) {
          ChainAnchor anchor;
          anchor.facts = rest;
          // Once the table is full, the rest of this walk is not remembered.
          room = table_.insert(path_[i], anchor);
        }
      }
      return rest;
    }

    ChainPath& path_;
    ChainFactTable& table_;
    TableEntryReader& read_;
    const ClusterArea& volume_;
    const ChainLinks& links_;
    std::vector<ChainFacts> loop_facts_;
  };
};

std::expected<std::uint32_t, RecoveryError> deleted_file_offset_count(
    ByteSource& source, const ClusterArea& area, std::uint32_t first_cluster, std::uint64_t size,
    bool no_fat_chain, DeletedChainMemo& memo) {
  if (no_fat_chain) return 0;
  return DeletedChainResolver::count(source, area, first_cluster, size, memo);
}

std::expected<std::vector<std::uint64_t>, RecoveryError> deleted_file_cluster_offsets(
    ByteSource& source, const ClusterArea& area, std::uint32_t first_cluster, std::uint64_t size,
    bool no_fat_chain) {
  if (no_fat_chain) return std::vector<std::uint64_t>{};
  KESTREL_TRY_ASSIGN(bytes, cluster_size(area));
  const std::uint32_t needed = clusters_needed(size, *bytes);
  if (needed == 0 || needed > kMaxChainClusters) return std::vector<std::uint64_t>{};
  TableBlockCache cache;
  TableEntryReader read(source, &cache, area.width);
  const ChainWalk walk = walk_area_chain(read, area, first_cluster, needed);
  if (!holds_file(walk, needed)) return std::vector<std::uint64_t>{};
  return map_cluster_offsets(walk.clusters, needed, area);
}

std::expected<std::vector<std::uint64_t>, RecoveryError> deleted_file_cluster_offsets(
    ByteSource& source, const DataLayout& layout, std::uint32_t first_cluster, std::uint64_t size,
    bool no_fat_chain) {
  const auto* area = std::get_if<ClusterArea>(&layout);
  if (area == nullptr) return std::vector<std::uint64_t>{};
  return deleted_file_cluster_offsets(source, *area, first_cluster, size, no_fat_chain);
}

}  // namespace kestrel
