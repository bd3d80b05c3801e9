#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "recovery-core/chains/cluster_hash.hpp"

namespace kestrel {

// The clusters of one walk in order, with the walk's own set of them so that a
// repeated cluster is found, with its place in the walk, in constant time.
// Reused from walk to walk: start() empties it without freeing memory, and its
// memory follows the longest walk made (8 bytes per cluster, plus 12 per slot
// of a table at most half full).
class ChainPath {
 public:
  // Begins a new walk.
  void start();
  // The index of `cluster` in this walk, if the walk already holds it.
  std::optional<std::uint32_t> find(std::uint32_t cluster) const;
  // Appends a cluster the walk does not hold yet.
  void push(std::uint32_t cluster);

  std::size_t size() const { return clusters_.size(); }
  std::uint32_t operator[](std::size_t index) const { return clusters_[index]; }

 private:
  struct Slot {
    std::uint32_t cluster = 0;
    std::uint32_t index = 0;
    std::uint32_t walk = 0;  // the slot belongs to the current walk only when this equals walk_
  };

  void place(std::uint32_t cluster, std::uint32_t index);
  void grow();

  std::vector<std::uint32_t> clusters_;
  std::vector<Slot> slots_;
  unsigned bits_ = 0;
  std::uint32_t walk_ = 0;
  ClusterHash hash_;
};

}  // namespace kestrel
