#include "recovery-core/source/read_validation.hpp"

namespace kestrel {

std::expected<ReadRange, SourceError> validate_read(std::uint64_t max_request_bytes,
                                                    bool require_alignment, std::uint64_t capacity,
                                                    std::uint32_t logical_sector_size,
                                                    std::uint64_t offset, std::uint64_t length) {
  if (logical_sector_size == 0) return std::unexpected(SourceError::zero_logical_sector_size());
  if (capacity == 0) return std::unexpected(SourceError::zero_capacity());
  if (length > max_request_bytes) {
    return std::unexpected(SourceError::request_too_large(length, max_request_bytes));
  }
  std::uint64_t end = 0;
  if (__builtin_add_overflow(offset, length, &end)) {
    return std::unexpected(SourceError::range_overflow());
  }
  if (end > capacity) {
    return std::unexpected(SourceError::range_exceeds_source(offset, length, capacity));
  }
  if (require_alignment) {
    if (offset % logical_sector_size != 0) {
      return std::unexpected(SourceError::offset_not_aligned(offset, logical_sector_size));
    }
    if (length % logical_sector_size != 0) {
      return std::unexpected(SourceError::length_not_aligned(length, logical_sector_size));
    }
  }
  return ReadRange{offset, length, end};
}

}  // namespace kestrel
