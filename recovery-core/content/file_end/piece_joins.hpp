#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel {

// Where a carved file goes on elsewhere: its bytes from `at` (counted from its
// first byte) lie from the absolute `offset` of the source on, up to the next
// join. Every piece starts at a unit start and all but the last hold whole
// units.
struct PieceJoin {
  std::uint64_t at = 0;
  std::uint64_t offset = 0;

  friend bool operator==(const PieceJoin&, const PieceJoin&) = default;
};

// The joins of a file in pieces, in file order; empty for a file in one piece.
// A candidate gives its pieces as runs of the source instead (FilePieces,
// made from these by file_pieces_of in carved_candidate.hpp).
using PieceJoins = std::vector<PieceJoin>;

// The most pieces a carved file is put together from.
inline constexpr std::size_t kMaxCarvedPieces = 8;

}  // namespace kestrel
