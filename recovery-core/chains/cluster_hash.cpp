#include "recovery-core/chains/cluster_hash.hpp"

#include <atomic>
#include <chrono>

namespace kestrel {

namespace {

// The finaliser of splitmix64: a well-mixed 64-bit value from any input.
std::uint64_t mix(std::uint64_t value) {
  value += 0x9E3779B97F4A7C15ULL;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
  return value ^ (value >> 31);
}

}  // namespace

ClusterHash::ClusterHash() {
  // Neither secret nor reproducible, which is all a table needs: the clock, the
  // table's address and a running count.
  static std::atomic<std::uint64_t> count{0};
  const auto ticks =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(this));
  multiplier_ = mix(ticks ^ mix(address ^ mix(count.fetch_add(1, std::memory_order_relaxed)))) | 1;
}

}  // namespace kestrel
