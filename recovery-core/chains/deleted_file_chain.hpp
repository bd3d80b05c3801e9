#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <vector>

#include "recovery-core/chains/chain_facts.hpp"
#include "recovery-core/chains/chain_path.hpp"
#include "recovery-core/chains/cluster_area.hpp"
#include "recovery-core/chains/table_entry_reader.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Remembers, for one volume scan, what the FAT says about chains already walked,
// so that deleted files whose chains meet or overlap share the walking.
//
// It keeps ChainFacts (how long the walk from there is, how it ends, where its
// first cluster without an offset lies) for anchor clusters. A walk from a start
// it does not hold follows the FAT until it meets an anchor, a cluster it already
// holds (a loop) or the chain's end, works out the facts of every cluster it
// passed, and keeps every kAnchorStride-th of them as anchors (counted back from
// where the walk stopped), so a later walk that joins this one meets an anchor,
// or the end, within a few kAnchorStride clusters. A loop longer than that gets
// anchors round it that name each other, so that a walk coming along the loop
// finds out where it joined it by reading at most kAnchorStride entries. A walk
// stops after kWalkLimit clusters: from each of the first kWalkLimit - 65,535
// the walk then holds at least 65,536 clusters, all their entries read, which
// is all that matters, so their facts are known (every kAnchorStride-th becomes
// an anchor); the rest are left for a later walk. So every FAT entry is read by
// at most two walks that work its facts out, plus fewer than about 2 * kAnchorStride
// entries per file: the reads of all deleted files of a volume stay linear in the
// number of FAT entries read, whatever their chains share, and short chains
// (entries cleared by deletion) leave no anchors behind at all. The facts of the
// latest starts are kept aside as well (kRecentStarts of them, 16 KiB), so that
// files sharing a start cluster cost one walk.
//
// Memory is bounded: the table stops at ChainFactTable::kMaxEntries anchors
// (8 MiB), the walk's own path holds at most kWalkLimit clusters (4 MiB with its
// set), and FAT entries come through a 64 KiB block cache. Once the table is full
// (after some 25 million clusters of long chains were read, a FAT of over 100 MiB),
// a start it does not hold is walked on its own as far as the file needs, as
// without the memo: the worst case is then one walk of up to 65,536 FAT entries
// per deleted file, mostly served from the block cache.
//
// A memo serves one volume of one source at a time: used with another cluster
// area or another source, it forgets what it held.
class DeletedChainMemo {
 public:
  static constexpr std::uint32_t kAnchorStride = 64;
  static constexpr std::size_t kWalkLimit = 2 * std::size_t{kMaxChainClusters};

  // A memo that keeps at most `anchor_limit` anchors (fewer than the default
  // only to exercise a full table).
  DeletedChainMemo() = default;
  explicit DeletedChainMemo(std::size_t anchor_limit) : facts_(anchor_limit) {}

  // The number of anchors remembered.
  std::size_t size() const { return facts_.size(); }

 private:
  friend class DeletedChainResolver;

  // The facts of start clusters asked about lately, so that files sharing a
  // start cluster (one after another in a directory) are answered at once.
  // Only asked at a file's start, never by a walk, so a start may be
  // overwritten by another at any time.
  struct RecentStart {
    std::uint32_t cluster = 0;  // 0: none
    ChainFacts facts;
  };
  static constexpr std::size_t kRecentStarts = 1024;

  std::optional<ClusterArea> area_;
  const ByteSource* source_ = nullptr;
  std::vector<RecentStart> recent_starts_;
  ChainFactTable facts_;
  ChainPath path_;
  TableBlockCache cache_;
};

// How many cluster offsets a deleted file gets under the scan rules: the chain
// from first_cluster is followed (stopping once it holds the clusters the file
// needs); when it holds at least clusters_needed(size) clusters, that count,
// after every one of them was mapped to an offset; otherwise 0. A mapping error
// (e.g. an exFAT chain cluster outside the heap) is returned; a walk that fails
// to read a FAT entry is dropped (0), unless the file's clusters were all held
// before that read. A file that needs more than 65,536 clusters never gets
// offsets (0, nothing read). With no_fat_chain (the entry says its clusters are
// contiguous): 0 without reading the table.
// A cluster size that does not fit 32 bits is the byte-range-overflow error.
// The scans set recoverability fat-chain when the count is 2 or more.
// The answers are those of deleted_file_cluster_offsets; the memo only saves reads.
std::expected<std::uint32_t, RecoveryError> deleted_file_offset_count(
    ByteSource& source, const ClusterArea& area, std::uint32_t first_cluster, std::uint64_t size,
    bool no_fat_chain, DeletedChainMemo& memo);

// The cluster offsets themselves, by the same rules, from a walk of the file's
// own chain: exactly deleted_file_offset_count entries, in file order; empty
// when that count is 0, and always in an area without clusters.
std::expected<std::vector<std::uint64_t>, RecoveryError> deleted_file_cluster_offsets(
    ByteSource& source, const ClusterArea& area, std::uint32_t first_cluster, std::uint64_t size,
    bool no_fat_chain);
std::expected<std::vector<std::uint64_t>, RecoveryError> deleted_file_cluster_offsets(
    ByteSource& source, const DataLayout& layout, std::uint32_t first_cluster, std::uint64_t size,
    bool no_fat_chain);

}  // namespace kestrel
