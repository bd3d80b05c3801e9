#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// One run of unreadable source bytes, written into the image as zeros. The
// offset and length are sector multiples; the error is the display text of the
// read error that every sector of the run gave.
struct ReadErrorRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::string error;

  friend bool operator==(const ReadErrorRange&, const ReadErrorRange&) = default;
};

// {"offset", "length", "error"} in this order.
JsonValue to_json(const ReadErrorRange& range);

// Adds one unreadable range to a list kept in ascending order: when the last
// range ends exactly where the new one starts and carries the same error text,
// the last range grows; otherwise the new range is appended. An end that
// overflows 64 bits is the byte-range-overflow error and leaves the list alone.
std::expected<void, RecoveryError> record_read_error(std::vector<ReadErrorRange>& ranges,
                                                     ReadErrorRange range);

}  // namespace kestrel
