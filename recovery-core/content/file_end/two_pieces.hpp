#pragma once

#include <cstdint>

namespace kestrel {

// A file in two pieces: its first `first_length` bytes from its first byte,
// the rest from `second_offset` on.
struct TwoPieces {
  std::uint64_t first_length = 0;
  std::uint64_t second_offset = 0;

  friend bool operator==(const TwoPieces&, const TwoPieces&) = default;
};

}  // namespace kestrel
