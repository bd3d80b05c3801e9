#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "recovery-core/content/file_end/area_reader.hpp"
#include "recovery-core/content/file_end/piece_joins.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// The places where files are looked for: every `unit` bytes from `origin`
// (cluster starts of a volume, or logical-sector starts of an area without one).
struct UnitGrid {
  std::uint64_t origin = 0;
  std::uint32_t unit = 0;
};

// The bytes a carved file may occupy, from its first byte to the end of the
// area it was found in (or its format's bound), as seen by an end rule.
// Positions count from the file's first byte. A file in pieces is seen as one
// run of bytes: each piece up to the next join, the last up to the limit.
//
// When it knows the unit grid, a walk over the bytes (a checksum, a search for
// an end mark) stops at a unit start that holds another file's header: data
// that is this file's own rarely looks like one there, while the next file
// written to the card always does. That keeps an unfinished file from
// swallowing the files after it, and keeps every walk of the search short.
class FileArea {
 public:
  FileArea(AreaReader& reader, std::uint64_t start, std::uint64_t limit,
           std::optional<UnitGrid> grid = {})
      : reader_(reader), start_(start), size_(limit > start ? limit - start : 0), grid_(grid) {}
  // A file in pieces (at least one join), each starting at a unit start; the
  // last piece runs up to `limit`, which lies past its start.
  FileArea(AreaReader& reader, std::uint64_t start, std::uint64_t limit, UnitGrid grid,
           PieceJoins joins)
      : reader_(reader),
        start_(start),
        size_(joins.back().at + (limit - joins.back().offset)),
        grid_(grid),
        joins_(std::move(joins)) {}

  std::uint64_t start() const { return start_; }
  // The unit length of the grid, 0 without one.
  std::uint32_t unit() const { return grid_ ? grid_->unit : 0; }
  // The first unit start at or after `position` (with a grid).
  std::uint64_t unit_start_from(std::uint64_t position) const;
  // The most bytes the file can have.
  std::uint64_t size() const { return size_; }

  // At most `length` bytes at `position` (and at most AreaReader::kMaxView),
  // fewer where the area ends. Valid until the next call.
  std::expected<std::span<const std::uint8_t>, RecoveryError> bytes(std::uint64_t position,
                                                                    std::size_t length) {
    if (joins_.empty()) return reader_.view(start_ + position, length, start_ + size_);
    return bytes_of_pieces(position, length);
  }

  // Where a walk ended: at the position its visitor asked for (`found`), at a
  // unit start holding another file's header (`clipped`), or at the end asked
  // for or the area's end, whichever came first.
  struct WalkStop {
    std::uint64_t position = 0;
    bool found = false;
    bool clipped = false;
  };

  // Hands the bytes [from, to) to `visit(position, piece)` in order, piece by
  // piece; the visitor returns the position where it is done, or nothing to
  // go on.
  template <typename Visit>
  std::expected<WalkStop, RecoveryError> walk(std::uint64_t from, std::uint64_t to, Visit&& visit) {
    std::uint64_t position = from;
    const std::uint64_t end = to < size_ ? to : size_;
    while (position < end) {
      KESTREL_TRY_ASSIGN(piece, next_piece(position, end));
      KESTREL_TRY_ASSIGN(seen, bytes(position, static_cast<std::size_t>(piece->end - position)));
      if (const std::optional<std::uint64_t> done = visit(position, *seen))
        return WalkStop{*done, true, false};
      position = piece->end;
      if (piece->clipped) return WalkStop{position, false, true};
    }
    return WalkStop{end, false, false};
  }

 private:
  struct Piece {
    std::uint64_t end = 0;
    bool clipped = false;
  };

  // The end of the piece that starts at `position`: a view's length on, the
  // next join of a file in pieces, or the first unit start on the way that
  // holds a header.
  std::expected<Piece, RecoveryError> next_piece(std::uint64_t position, std::uint64_t end);

  // bytes() of a file in pieces; a view across a join is put together in a
  // buffer of its own.
  std::expected<std::span<const std::uint8_t>, RecoveryError> bytes_of_pieces(
      std::uint64_t position, std::size_t length);

  // Of the file's pieces (0 the first): the one that holds `position`, and
  // where the piece `index` starts and ends (from the file's first byte) and
  // lies in the source.
  std::size_t piece_holding(std::uint64_t position) const;
  std::uint64_t piece_begin(std::size_t index) const {
    return index == 0 ? 0 : joins_[index - 1].at;
  }
  std::uint64_t piece_end(std::size_t index) const {
    return index < joins_.size() ? joins_[index].at : size_;
  }
  std::uint64_t piece_offset(std::size_t index) const {
    return index == 0 ? start_ : joins_[index - 1].offset;
  }

  AreaReader& reader_;
  std::uint64_t start_;
  std::uint64_t size_;
  std::optional<UnitGrid> grid_;
  PieceJoins joins_;
  std::vector<std::uint8_t> joined_;
};

}  // namespace kestrel
