#include "recovery-core/content/file_end/area_reader.hpp"

#include <algorithm>
#include <cstring>

#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// What a backward view reads: enough for the structures read out of order
// (TIFF directories), little enough to keep the window's large reads forward.
constexpr std::size_t kBackwardBlock = 64u << 10;

}  // namespace

AreaReader::AreaReader(ByteSource& source, std::size_t window_bytes)
    : source_(source), window_(std::max(window_bytes, 2 * kMaxView)) {}

std::expected<std::span<const std::uint8_t>, RecoveryError> AreaReader::view(std::uint64_t offset,
                                                                             std::size_t length,
                                                                             std::uint64_t limit) {
  if (offset >= limit) return std::span<const std::uint8_t>{};
  const std::size_t wanted =
      static_cast<std::size_t>(std::min<std::uint64_t>({length, kMaxView, limit - offset}));
  const std::uint64_t window_end = window_start_ + window_fill_;
  if (offset < window_start_ || offset + wanted > window_end) {
    KESTREL_TRY(refill(offset, wanted, limit));
  }
  return std::span<const std::uint8_t>(window_).subspan(
      static_cast<std::size_t>(offset - window_start_), wanted);
}

std::expected<void, RecoveryError> AreaReader::refill(std::uint64_t offset, std::size_t wanted,
                                                      std::uint64_t limit) {
  const std::uint64_t window_end = window_start_ + window_fill_;
  std::size_t kept = 0;
  std::size_t block = window_.size();
  if (offset >= window_start_ && offset < window_end) {
    // Forward across the end: keep the tail that is still wanted.
    kept = static_cast<std::size_t>(window_end - offset);
    std::memmove(window_.data(), window_.data() + (offset - window_start_), kept);
  } else if (offset < window_start_) {
    block = std::max(wanted, kBackwardBlock);
  }
  window_start_ = offset;
  window_fill_ = kept;
  const std::uint64_t read_at = offset + kept;
  const std::size_t count = static_cast<std::size_t>(
      std::min<std::uint64_t>(block - kept, limit > read_at ? limit - read_at : 0));
  if (count == 0) return {};
  auto target = std::span<std::uint8_t>(window_).subspan(kept, count);
  if (auto read = read_exact(source_, read_at, target); !read) {
    window_fill_ = 0;
    return std::unexpected(RecoveryError(read.error()));
  }
  window_fill_ += count;
  bytes_read_ += count;
  return {};
}

}  // namespace kestrel
