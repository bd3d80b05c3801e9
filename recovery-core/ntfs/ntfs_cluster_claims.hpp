#pragma once

#include <cstdint>
#include <vector>

namespace kestrel {

// The clusters the deleted records of a volume still claim, so that a file
// whose clusters another deleted file claims too can be told apart: one of
// the two overwrote the other. The record written last (its log sequence
// number, else the time its record last changed) is the one whose bytes are
// there; when the two cannot be ordered, both are in doubt. Holds at most a
// fixed number of claims; past it, later claims are not remembered.
class NtfsClusterClaims {
 public:
  void add(std::uint64_t record, std::uint64_t order, std::uint64_t first, std::uint64_t count);
  // Call once after the last add, before any question.
  void seal();

  // Whether a claim of another record on a cluster of [first, first + count)
  // is not known to be older than `order`.
  bool contested(std::uint64_t record, std::uint64_t order, std::uint64_t first,
                 std::uint64_t count) const;

 private:
  struct Claim {
    std::uint64_t first = 0;
    std::uint64_t end = 0;
    std::uint64_t record = 0;
    std::uint64_t order = 0;
  };
  std::vector<Claim> claims_;
  std::vector<std::uint64_t> furthest_end_;  // the largest end among claims_[0..i]
};

}  // namespace kestrel
