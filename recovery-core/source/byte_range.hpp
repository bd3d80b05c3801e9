#pragma once

#include <cstdint>
#include <expected>

#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// Unsigned 64-bit arithmetic on offsets and lengths; an overflow is the
// byte-range-overflow error.
std::expected<std::uint64_t, RecoveryError> checked_add(std::uint64_t a, std::uint64_t b);
std::expected<std::uint64_t, RecoveryError> checked_mul(std::uint64_t a, std::uint64_t b);

// Succeeds when offset + length <= capacity (a range ending exactly at the
// capacity passes); an overflowing end is byte-range-overflow, a range past the
// capacity byte-range-exceeds-source with the offset, length and capacity.
std::expected<void, RecoveryError> check_range(std::uint64_t capacity, std::uint64_t offset,
                                               std::uint64_t length);

}  // namespace kestrel
