#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/json/json_value.hpp"

namespace kestrel {

// Sectors of the source that could not be read and are zeros in the image:
// whole sectors from offset on, all of which failed with the same message.
struct ReadErrorRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::string error;

  friend bool operator==(const ReadErrorRange&, const ReadErrorRange&) = default;
};

// The three members in declaration order.
JsonValue to_json(const ReadErrorRange& range);

// Adds a range after the others: it lengthens the last one when it continues
// it with the same message, and is appended otherwise. An end past 64 bits
// is the overflow error, and the list is left as it was.
std::expected<void, RecoveryError> record_read_error(std::vector<ReadErrorRange>& ranges,
                                                     ReadErrorRange range);

}  // namespace kestrel
