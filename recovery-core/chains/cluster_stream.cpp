#include "recovery-core/chains/cluster_stream.hpp"

#include <algorithm>

#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

ClusterStream::ClusterStream(ByteSource& source, std::vector<std::uint64_t> cluster_offsets,
                             std::uint32_t cluster_size)
    : source_(source),
      cluster_offsets_(std::move(cluster_offsets)),
      cluster_size_(cluster_size),
      piece_size_(std::min<std::size_t>(cluster_size, kMaxPiece)),
      length_(std::uint64_t{cluster_size} * cluster_offsets_.size()) {}

std::expected<void, RecoveryError> ClusterStream::load_next_piece() {
  const std::uint64_t position = window_start_ + window_.size();
  const std::uint64_t cluster = position / cluster_size_;
  const std::uint64_t within = position % cluster_size_;
  const std::size_t count =
      static_cast<std::size_t>(std::min<std::uint64_t>(piece_size_, cluster_size_ - within));
  const std::size_t old_size = window_.size();
  window_.resize(old_size + count);
  const std::span<std::uint8_t> piece(window_.data() + old_size, count);
  if (auto read = read_exact(source_, cluster_offsets_[cluster] + within, piece); !read) {
    window_.resize(old_size);
    return std::unexpected(read.error());
  }
  return {};
}

std::expected<std::span<const std::uint8_t>, RecoveryError> ClusterStream::bytes(
    std::uint64_t position, std::size_t count) {
  const std::uint64_t end = position + count;
  if (end > window_start_ + window_.size()) {
    // Drop what lies before the request, then read on until it is covered.
    if (position >= window_start_ + window_.size()) {
      window_.clear();
      window_start_ = position;
    } else {
      const auto drop = static_cast<std::ptrdiff_t>(position - window_start_);
      window_.erase(window_.begin(), window_.begin() + drop);
      window_start_ = position;
    }
    while (window_start_ + window_.size() < end) {
      KESTREL_TRY(load_next_piece());
    }
  }
  return std::span<const std::uint8_t>(window_.data() + (position - window_start_), count);
}

}  // namespace kestrel
