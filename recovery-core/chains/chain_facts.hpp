#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/chains/cluster_hash.hpp"

namespace kestrel {

// A chain length meaning "longer than the cap": the walk from there reaches
// 65,536 clusters and still reads the last one's FAT entry successfully.
inline constexpr std::uint32_t kLongerThanCap = kMaxChainClusters + 1;
// An index meaning "none of the first 65,536 clusters lacks an offset".
inline constexpr std::uint32_t kNoUnmappedCluster = kMaxChainClusters;

// What a full walk from one cluster finds, as far as a deleted file's chain
// outcome depends on it (a file needs at most 65,536 clusters).
struct ChainFacts {
  // The clusters the walk appends before it ends (an end, free, reserved or bad
  // entry, a next cluster outside the volume, a repeated cluster, a FAT entry
  // that cannot be read), or kLongerThanCap.
  std::uint32_t length = 0;
  // The walk ended because the FAT entry of its last cluster could not be read
  // (never set together with kLongerThanCap).
  bool ends_unreadable = false;
  // The index in the walk of the first cluster that has no offset in the volume
  // (an exFAT stray beyond the heap), or kNoUnmappedCluster.
  std::uint32_t unmapped_index = kNoUnmappedCluster;

  friend bool operator==(const ChainFacts&, const ChainFacts&) = default;
};

// The facts of one cluster as a table keeps them. A cluster on a loop of at most
// 65,536 clusters also records the loop: a walk that meets it may have come
// along the same loop, and `previous_on_loop` (the loop's previous cluster that
// the table holds, possibly this one) tells which clusters of the loop come
// before it.
struct ChainAnchor {
  ChainFacts facts;
  bool on_loop = false;
  std::uint32_t previous_on_loop = 0;

  friend bool operator==(const ChainAnchor&, const ChainAnchor&) = default;
};

// ChainAnchors by cluster number, in a table of bounded size: open addressing
// with linear probing over 16-byte slots, growing by doubling. It takes at most
// `max_entries` clusters (by default kMaxEntries, in at most kMaxSlots slots:
// 8 MiB) and then refuses more, keeping what it has.
class ChainFactTable {
 public:
  static constexpr std::size_t kMaxSlots = std::size_t{1} << 19;
  static constexpr std::size_t kMaxEntries = kMaxSlots / 4 * 3;

  explicit ChainFactTable(std::size_t max_entries = kMaxEntries)
      : max_entries_(std::min(max_entries, kMaxEntries)) {}

  std::optional<ChainAnchor> find(std::uint32_t cluster) const;
  // Remembers a cluster (cluster numbers 0 and 1 are never kept). False when the
  // table is full and did not take it; a cluster already held keeps what it has.
  bool insert(std::uint32_t cluster, const ChainAnchor& anchor);
  // How many more clusters the table takes.
  std::size_t room() const { return max_entries_ - size_; }
  std::size_t size() const { return size_; }
  void clear();

 private:
  struct Slot {
    std::uint32_t cluster = 0;  // 0: empty
    std::uint32_t length_and_flags = 0;
    std::uint32_t unmapped_index = 0;
    std::uint32_t previous_on_loop = 0;
  };

  std::size_t home(std::uint32_t cluster) const { return hash_.slot(cluster, bits_); }
  void grow();

  std::size_t max_entries_;
  std::vector<Slot> slots_;
  unsigned bits_ = 0;
  std::size_t size_ = 0;
  ClusterHash hash_;
};

}  // namespace kestrel
