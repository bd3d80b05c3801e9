#include "recovery-core/carving/carved_file_bytes.hpp"

#include <algorithm>

#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

CarvedFileBytes::CarvedFileBytes(ByteSource& source, const RecoveryCandidate& candidate)
    : source_(source),
      start_(candidate.data_offset),
      size_(candidate.size),
      first_length_(candidate.pieces ? std::min(candidate.pieces->first_length, candidate.size)
                                     : candidate.size),
      second_offset_(candidate.pieces ? candidate.pieces->second_offset : 0) {}

std::expected<std::vector<std::uint8_t>, RecoveryError> CarvedFileBytes::read(
    std::uint64_t position, std::size_t length) {
  std::vector<std::uint8_t> out;
  if (position >= size_) return out;
  const std::size_t wanted = static_cast<std::size_t>(
      std::min<std::uint64_t>({length, kMaxContentRead, size_ - position}));
  out.reserve(wanted);
  const std::uint64_t end = position + wanted;
  if (position < first_length_) {
    const std::uint64_t in_first = std::min(end, first_length_) - position;
    KESTREL_TRY(append(start_, position, static_cast<std::size_t>(in_first), out));
    // Cut short by the source's end: the second piece would not follow on.
    if (out.size() < in_first) return out;
  }
  if (end > first_length_) {
    const std::uint64_t from = std::max(position, first_length_) - first_length_;
    KESTREL_TRY(
        append(second_offset_, from, static_cast<std::size_t>(end - first_length_ - from), out));
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
