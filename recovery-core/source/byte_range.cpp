#include "recovery-core/source/byte_range.hpp"

#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

std::expected<std::uint64_t, RecoveryError> checked_add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum))
    return std::unexpected(RecoveryError::byte_range_overflow());
  return sum;
}

std::expected<std::uint64_t, RecoveryError> checked_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) {
    return std::unexpected(RecoveryError::byte_range_overflow());
  }
  return product;
}

std::expected<void, RecoveryError> check_range(std::uint64_t capacity, std::uint64_t offset,
                                               std::uint64_t length) {
  KESTREL_TRY_ASSIGN(end, checked_add(offset, length));
  if (*end > capacity) {
    return std::unexpected(RecoveryError::byte_range_exceeds_source(offset, length, capacity));
  }
  return {};
}

}  // namespace kestrel
