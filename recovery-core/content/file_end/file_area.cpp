#include "recovery-core/content/file_end/file_area.hpp"

#include <algorithm>

#include "recovery-core/content/file_end/file_header.hpp"

namespace kestrel {

std::expected<FileArea::Piece, RecoveryError> FileArea::next_piece(std::uint64_t position, std::uint64_t end) {
  // Half a view, so the piece and the header bytes after it are seen in one view.
  const std::uint64_t piece_end = std::min<std::uint64_t>(end, position + AreaReader::kMaxView / 2);
  if (!grid_ || grid_->unit == 0) return Piece{piece_end, false};

  auto seen = bytes(position, static_cast<std::size_t>(piece_end - position) + kHeaderProbeBytes);
  if (!seen) return std::unexpected(seen.error());
  const std::uint64_t unit = grid_->unit;
  const std::uint64_t absolute = start_ + position + 1;  // unit starts after `position`
  const std::uint64_t from_origin = absolute > grid_->origin ? absolute - grid_->origin : 0;
  std::uint64_t candidate = grid_->origin + (from_origin + unit - 1) / unit * unit - start_;
  for (; candidate < piece_end; candidate += unit) {
    const auto at = static_cast<std::size_t>(candidate - position);
    if (probe_file_header(seen->subspan(at))) return Piece{candidate, true};
  }
  return Piece{piece_end, false};
}

}  // namespace kestrel
