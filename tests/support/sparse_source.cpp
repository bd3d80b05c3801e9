#include "tests/support/sparse_source.hpp"

#include <algorithm>
#include <cstring>

#include "recovery-core/source/image_file_source.hpp"

namespace kestrel::testing {

SparseSource::SparseSource(std::uint64_t capacity, std::uint32_t sector_size)
    : identity_(image_file_identity("sparse", capacity, sector_size)) {}

void SparseSource::write(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const std::uint64_t at = offset + done;
    auto& page = pages_[at / kPage];
    if (page.empty()) page.assign(kPage, 0);
    const std::size_t within = at % kPage;
    const std::size_t count = std::min<std::size_t>(kPage - within, bytes.size() - done);
    std::memcpy(page.data() + within, bytes.data() + done, count);
    done += count;
  }
}

void SparseSource::write_u32(std::uint64_t offset, std::uint32_t value) {
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  write(offset, bytes);
}

std::uint8_t SparseSource::byte_at(std::uint64_t offset) const {
  auto page = pages_.find(offset / kPage);
  return page == pages_.end() ? 0 : page->second[offset % kPage];
}

void SparseSource::fail_range(std::uint64_t offset, std::uint64_t length, SourceError error) {
  failures_.push_back(Failure{offset, length, std::move(error)});
}

std::expected<std::size_t, SourceError> SparseSource::read_at(std::uint64_t offset,
                                                              std::span<std::uint8_t> buffer) {
  ++read_count_;
  largest_read_ = std::max(largest_read_, buffer.size());
  for (const Failure& failure : failures_) {
    if (offset < failure.offset + failure.length && failure.offset < offset + buffer.size()) {
      return std::unexpected(failure.error);
    }
  }
  const std::uint64_t capacity = identity_.capacity_bytes;
  if (offset >= capacity) return 0;
  const std::size_t count =
      static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), capacity - offset));
  std::fill_n(buffer.begin(), count, std::uint8_t{0});
  // Copy every written page that overlaps the range.
  auto page = pages_.lower_bound(offset / kPage);
  for (; page != pages_.end() && page->first * kPage < offset + count; ++page) {
    const std::uint64_t page_start = page->first * kPage;
    const std::uint64_t from = std::max(page_start, offset);
    const std::uint64_t to = std::min(page_start + kPage, offset + count);
    std::memcpy(buffer.data() + (from - offset), page->second.data() + (from - page_start),
                to - from);
  }
  return count;
}

}  // namespace kestrel::testing
