#include "recovery-core/ntfs/ntfs_cluster_claims.hpp"

#include <algorithm>

namespace kestrel {

namespace {

// 32 bytes each: 16 MiB at most, however many runs the deleted records list.
constexpr std::size_t kMostClaims = std::size_t{1} << 19;

}  // namespace

void NtfsClusterClaims::add(std::uint64_t record, std::uint64_t order, std::uint64_t first,
                            std::uint64_t count) {
  if (claims_.size() < kMostClaims && count > 0)
    claims_.push_back({first, first + count, record, order});
}

void NtfsClusterClaims::seal() {
  std::ranges::sort(claims_, {}, &Claim::first);
  furthest_end_.clear();
  furthest_end_.reserve(claims_.size());
  std::uint64_t furthest = 0;
  for (const Claim& claim : claims_) {
    furthest = std::max(furthest, claim.end);
    furthest_end_.push_back(furthest);
  }
}

bool NtfsClusterClaims::contested(std::uint64_t record, std::uint64_t order, std::uint64_t first,
                                  std::uint64_t count) const {
  const std::uint64_t end = first + count;
  // Claims that start before `end`, walked back while one of them may still reach `first`.
  auto index = static_cast<std::size_t>(std::ranges::lower_bound(claims_, end, {}, &Claim::first) -
                                        claims_.begin());
  while (index > 0 && furthest_end_[index - 1] > first) {
    const Claim& claim = claims_[--index];
    if (claim.record == record || claim.end <= first) continue;
    if (claim.order >= order) return true;
  }
  return false;
}

}  // namespace kestrel
