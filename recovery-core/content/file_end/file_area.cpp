#include "recovery-core/content/file_end/file_area.hpp"

#include <algorithm>

#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

std::expected<FileArea::Piece, RecoveryError> FileArea::next_piece(std::uint64_t position,
                                                                   std::uint64_t end) {
  // Half a view, so the piece and the header bytes after it are seen in one view.
  std::uint64_t piece_end = std::min<std::uint64_t>(end, position + AreaReader::kMaxView / 2);
  if (pieces_ && position < pieces_->first_length)
    piece_end = std::min(piece_end, pieces_->first_length);
  if (!grid_ || grid_->unit == 0) return Piece{piece_end, false};

  KESTREL_TRY_ASSIGN(
      seen, bytes(position, static_cast<std::size_t>(piece_end - position) + kHeaderProbeBytes));
  const std::uint64_t unit = grid_->unit;
  for (std::uint64_t candidate = unit_start_from(position + 1); candidate < piece_end;
       candidate += unit) {
    const auto at = static_cast<std::size_t>(candidate - position);
    if (probe_file_header(seen->subspan(at))) return Piece{candidate, true};
  }
  return Piece{piece_end, false};
}

// Counted from the file's first byte: both pieces of a file in two start at
// unit starts, so the count holds in both.
std::uint64_t FileArea::unit_start_from(std::uint64_t position) const {
  const std::uint64_t unit = grid_->unit;
  const std::uint64_t phase = start_ >= grid_->origin ? (start_ - grid_->origin) % unit : 0;
  return (position + phase + unit - 1) / unit * unit - phase;
}

std::expected<std::span<const std::uint8_t>, RecoveryError> FileArea::bytes_of_pieces(
    std::uint64_t position, std::size_t length) {
  const std::uint64_t first = pieces_->first_length;
  const std::uint64_t limit = pieces_->second_offset + (size_ - first);
  if (position >= first)
    return reader_.view(pieces_->second_offset + (position - first), length, limit);
  if (position + length <= first) return reader_.view(start_ + position, length, start_ + first);
  const std::size_t wanted = static_cast<std::size_t>(
      std::min<std::uint64_t>({length, AreaReader::kMaxView, size_ - position}));
  KESTREL_TRY_ASSIGN(head, reader_.view(start_ + position, wanted, start_ + first));
  joined_.assign(head->begin(), head->end());
  KESTREL_TRY_ASSIGN(tail, reader_.view(pieces_->second_offset, wanted - joined_.size(), limit));
  joined_.insert(joined_.end(), tail->begin(), tail->end());
  return std::span<const std::uint8_t>(joined_);
}

}  // namespace kestrel
