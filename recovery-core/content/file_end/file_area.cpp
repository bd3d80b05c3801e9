#include "recovery-core/content/file_end/file_area.hpp"

#include <algorithm>

#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

std::expected<FileArea::Piece, RecoveryError> FileArea::next_piece(std::uint64_t position,
                                                                   std::uint64_t end) {
  // Half a view, so the piece and the header bytes after it are seen in one view.
  std::uint64_t stop = std::min<std::uint64_t>(end, position + AreaReader::kMaxView / 2);
  if (!joins_.empty()) stop = std::min(stop, piece_end(piece_holding(position)));
  if (!grid_ || grid_->unit == 0) return Piece{stop, false};

  KESTREL_TRY_ASSIGN(
      seen, bytes(position, static_cast<std::size_t>(stop - position) + kHeaderProbeBytes));
  const std::uint64_t unit = grid_->unit;
  for (std::uint64_t candidate = unit_start_from(position + 1); candidate < stop;
       candidate += unit) {
    const auto at = static_cast<std::size_t>(candidate - position);
    if (probe_file_header(seen->subspan(at))) return Piece{candidate, true};
  }
  return Piece{stop, false};
}

// Counted from the file's first byte: every piece of a file in pieces starts
// at a unit start, so the count holds in all of them.
std::uint64_t FileArea::unit_start_from(std::uint64_t position) const {
  const std::uint64_t unit = grid_->unit;
  const std::uint64_t phase = start_ >= grid_->origin ? (start_ - grid_->origin) % unit : 0;
  return (position + phase + unit - 1) / unit * unit - phase;
}

std::size_t FileArea::piece_holding(std::uint64_t position) const {
  std::size_t index = 0;
  while (index < joins_.size() && joins_[index].at <= position) ++index;
  return index;
}

std::expected<std::span<const std::uint8_t>, RecoveryError> FileArea::bytes_of_pieces(
    std::uint64_t position, std::size_t length) {
  std::size_t index = piece_holding(position);
  const auto view_in = [&](std::size_t piece, std::uint64_t from, std::size_t wanted) {
    const std::uint64_t offset = piece_offset(piece);
    const std::uint64_t begin = piece_begin(piece);
    return reader_.view(offset + (from - begin), wanted, offset + (piece_end(piece) - begin));
  };
  if (position + length <= piece_end(index)) return view_in(index, position, length);
  const std::size_t wanted = static_cast<std::size_t>(
      std::min<std::uint64_t>({length, AreaReader::kMaxView, size_ - position}));
  joined_.clear();
  while (joined_.size() < wanted && index <= joins_.size()) {
    const std::uint64_t at = position + joined_.size();
    const auto in_piece = static_cast<std::size_t>(
        std::min<std::uint64_t>(wanted - joined_.size(), piece_end(index) - at));
    KESTREL_TRY_ASSIGN(part, view_in(index, at, in_piece));
    joined_.insert(joined_.end(), part->begin(), part->end());
    if (part->size() < in_piece) break;  // the source ends early
    ++index;
  }
  return std::span<const std::uint8_t>(joined_);
}

}  // namespace kestrel
