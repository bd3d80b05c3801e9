#include "tests/support/memory_source.hpp"

#include <algorithm>
#include <cstring>

#include "recovery-core/source/image_file_source.hpp"

namespace kestrel::testing {

MemorySource::MemorySource(std::vector<std::uint8_t> bytes, std::uint32_t sector_size)
    : bytes_(std::move(bytes)),
      identity_(image_file_identity("memory", bytes_.size(), sector_size)) {}

void MemorySource::fail_range(std::uint64_t offset, std::uint64_t length, SourceError error) {
  failures_.push_back(Failure{offset, length, std::move(error)});
}

std::expected<std::size_t, SourceError> MemorySource::read_at(std::uint64_t offset,
                                                              std::span<std::uint8_t> buffer) {
  ++read_count_;
  largest_read_ = std::max(largest_read_, buffer.size());
  for (const Failure& failure : failures_) {
    const bool overlaps =
        offset < failure.offset + failure.length && failure.offset < offset + buffer.size();
    if (overlaps) return std::unexpected(failure.error);
  }
  if (offset >= bytes_.size()) return 0;
  const std::size_t count = std::min<std::uint64_t>(buffer.size(), bytes_.size() - offset);
  std::memcpy(buffer.data(), bytes_.data() + offset, count);
  bytes_read_ += count;
  return count;
}

}  // namespace kestrel::testing
