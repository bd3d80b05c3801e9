#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// The data of a chain of clusters read as one byte sequence (the clusters
// concatenated in chain order) without holding it all: only a window around
// the position being looked at is kept, filled in pieces of at most one
// cluster and at most `kMaxPiece` bytes. Positions asked for never go back
// before the start of the previous request.
class ClusterStream {
 public:
  static constexpr std::size_t kMaxPiece = std::size_t{1024} * 1024;

  // `cluster_offsets` are the absolute offsets of the chain's clusters.
  ClusterStream(ByteSource& source, std::vector<std::uint64_t> cluster_offsets,
                std::uint32_t cluster_size);

  // Total length of the data: clusters times cluster size.
  std::uint64_t length() const { return length_; }

  // The bytes [position, position + count), which must lie inside the data and
  // not start before the previous request. A failed read is returned as is.
  std::expected<std::span<const std::uint8_t>, RecoveryError> bytes(std::uint64_t position,
                                                                    std::size_t count);

 private:
  std::expected<void, RecoveryError> load_next_piece();

  ByteSource& source_;
  std::vector<std::uint64_t> cluster_offsets_;
  std::uint32_t cluster_size_;
  std::size_t piece_size_;
  std::uint64_t length_;
  std::uint64_t window_start_ = 0;  // data position of window_[0]
  std::vector<std::uint8_t> window_;
};

}  // namespace kestrel
