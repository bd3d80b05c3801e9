#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel {

// One stretch of a file whose bytes lie in more than one place: `length` of
// the file's bytes from the absolute `offset` of the source.
struct FilePiece {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;

  friend bool operator==(const FilePiece&, const FilePiece&) = default;
};

// The most pieces a candidate is read from; a file that would need more is
// left to be read as one run.
inline constexpr std::size_t kMaxFilePieces = 64;

// A file's pieces in file order, their lengths adding up to its size; empty
// for a file read as one run from its data offset.
using FilePieces = std::vector<FilePiece>;

}  // namespace kestrel
