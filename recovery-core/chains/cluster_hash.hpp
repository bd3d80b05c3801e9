#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

// Places cluster numbers in a table of 2^bits slots (multiply-shift hashing).
// The multiplier is drawn anew for every table, so cluster numbers that an image
// chose cannot crowd one part of a table on purpose; a table's contents and
// answers never depend on it, only where entries sit.
class ClusterHash {
 public:
  ClusterHash();

  std::size_t slot(std::uint32_t cluster, unsigned bits) const {
    return static_cast<std::size_t>((multiplier_ * cluster) >> (64 - bits));
  }

 private:
  std::uint64_t multiplier_;
};

}  // namespace kestrel
