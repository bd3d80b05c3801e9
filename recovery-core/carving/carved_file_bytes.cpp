#include "recovery-core/carving/carved_file_bytes.hpp"

#include <algorithm>

#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

CarvedFileBytes::CarvedFileBytes(ByteSource& source, const RecoveryCandidate& candidate)
    : source_(source),
      size_(candidate.size),
      pieces_(candidate.pieces.empty() ? FilePieces{{candidate.data_offset, candidate.size}}
                                       : candidate.pieces) {}

std::expected<std::vector<std::uint8_t>, RecoveryError> CarvedFileBytes::read(
    std::uint64_t position, std::size_t length) {
  std::vector<std::uint8_t> out;
  if (position >= size_) return out;
  const std::size_t wanted = static_cast<std::size_t>(
      std::min<std::uint64_t>({length, kMaxContentRead, size_ - position}));
  out.reserve(wanted);
  const std::uint64_t end = position + wanted;
  std::uint64_t piece_start = 0;  // the file position of the piece's first byte
  for (const FilePiece& piece : pieces_) {
    const std::uint64_t piece_end = piece_start + std::min(piece.length, size_ - piece_start);
    if (piece_end > position && piece_start < end) {
      const std::uint64_t from = std::max(position, piece_start) - piece_start;
      const std::uint64_t count = std::min(end, piece_end) - piece_start - from;
      const std::size_t before = out.size();
      KESTREL_TRY(append(piece.offset, from, static_cast<std::size_t>(count), out));
      // Cut short by the source's end: the next piece would not follow on.
      if (out.size() - before < count) return out;
    }
    piece_start = piece_end;
    if (piece_start >= end) break;
  }
  return out;
}

std::expected<void, RecoveryError> CarvedFileBytes::append(std::uint64_t start,
                                                           std::uint64_t position,
                                                           std::size_t length,
                                                           std::vector<std::uint8_t>& out) {
  const std::uint64_t capacity = source_.capacity();
  if (start > capacity || position > capacity - start) return {};
  const std::uint64_t offset = start + position;
  const std::size_t count =
      static_cast<std::size_t>(std::min<std::uint64_t>(length, capacity - offset));
  const std::size_t before = out.size();
  out.resize(before + count);
  KESTREL_TRY(read_exact(source_, offset, std::span<std::uint8_t>(out).subspan(before, count)));
  return {};
}

}  // namespace kestrel
