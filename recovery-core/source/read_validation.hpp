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

// Whether a raw read may go to the device: a device with a size and a sector
// size, a request no longer than max_request_bytes that ends within the
// capacity and, with require_alignment, covers whole sectors. The first check
// that fails is the error (their order is in docs/devices.md).
std::expected<ReadRange, SourceError> validate_read(std::uint64_t max_request_bytes,
                                                    bool require_alignment, std::uint64_t capacity,
                                                    std::uint32_t logical_sector_size,
                                                    std::uint64_t offset, std::uint64_t length);

}  // namespace kestrel
