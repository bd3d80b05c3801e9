#pragma once

#include <cstdint>
#include <expected>

#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// A device read request that passed validate_read: end = offset + length.
struct ReadRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::uint64_t end = 0;

  friend bool operator==(const ReadRange&, const ReadRange&) = default;
};

// The checks every raw device read passes before it reaches the device, first
// failure wins: a zero sector size, a zero capacity, a request longer than
// max_request_bytes (equal passes), an end that overflows 64 bits, an end past
// the capacity (ending exactly at it passes), and, with require_alignment, an
// offset and then a length that is not a multiple of the sector size.
std::expected<ReadRange, SourceError> validate_read(std::uint64_t max_request_bytes,
                                                    bool require_alignment,
                                                    std::uint64_t capacity,
                                                    std::uint32_t logical_sector_size,
                                                    std::uint64_t offset, std::uint64_t length);

}  // namespace kestrel
