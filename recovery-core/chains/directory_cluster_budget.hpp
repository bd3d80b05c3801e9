#pragma once

#include <cstdint>
#include <limits>
#include <unordered_set>

namespace kestrel {

// The directory clusters one volume's walk may look at, shared by every
// directory it walks: each cluster is walked at most once (so a loop or two
// directories cross-linked onto one chain are walked once), and the number of
// looks is capped, so that folders pointing at each other, enormous
// directories or deleted entries aimed at arbitrary clusters cannot multiply
// the reads or make the walk's memory follow what the image claims.
class DirectoryClusterBudget {
 public:
  // A budget that only remembers clusters and never runs out.
  static constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();
  // The cap of a walk that goes beyond the live tree: 262,144 looks, far more
  // directory data than a card holds (8 GiB of directories with 32 KiB
  // clusters), at a few megabytes of memory at most.
  static constexpr std::uint64_t kAllDirectories = 262144;

  explicit DirectoryClusterBudget(std::uint64_t looks) : remaining_(looks) {}

  // Whether `cluster` has been walked already.
  bool walked(std::uint32_t cluster) const { return walked_.contains(cluster); }

  // Takes one look at a cluster without walking it (a probe of its first
  // bytes, a cluster tried and then refused). False when the budget is spent.
  bool spend() {
    if (remaining_ == 0) return false;
    if (remaining_ != kUnlimited) --remaining_;
    return true;
  }

  // Marks `cluster` as walked now. False when it was walked before.
  bool mark(std::uint32_t cluster) { return walked_.insert(cluster).second; }

  // A cluster not walked before, within the budget: spends one look and marks
  // it. False, and nothing spent, when it was walked before.
  bool claim(std::uint32_t cluster) {
    if (walked(cluster) || !spend()) return false;
    return mark(cluster);
  }

 private:
  std::uint64_t remaining_;
  std::unordered_set<std::uint32_t> walked_;
};

}  // namespace kestrel
