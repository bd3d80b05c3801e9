#include "recovery-core/carving/png_continuation_search.hpp"

#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/content/file_end/png_join.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// A PNG is joined across any gap only within a chunk of at most this much
// data, and at most this many joins are checked to its end for each file.
constexpr std::uint32_t kMaxPngJoinChunk = 16u << 20;
constexpr int kMaxPngJoins = 64;

}  // namespace

std::expected<std::optional<PiecedFile>, RecoveryError> PngContinuationSearch::complete(
    std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
    std::optional<std::uint64_t> length) {
  int tries = kMaxPngJoins;
  return next_png_piece({}, start, limit, broken_at, length, tries);
}

std::expected<std::optional<PiecedFile>, RecoveryError> PngContinuationSearch::next_png_piece(
    const PieceJoins& joins, std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
    std::optional<std::uint64_t> length, int& tries) {
  if (unit() == 0 || joins.size() + 1 >= kMaxCarvedPieces) return std::optional<PiecedFile>{};
  FileArea sofar = joins.empty() ? FileArea(state_.reader(), start, limit, state_.grid())
                                 : FileArea(state_.reader(), start, limit, state_.grid(), joins);
  KESTREL_TRY_ASSIGN(chunk, png_chunk_at(sofar, broken_at));
  if (!*chunk || (*chunk)->length > kMaxPngJoinChunk) return std::optional<PiecedFile>{};
  // Where each file position would lie were the last piece to go on.
  const std::uint64_t base = joins.empty() ? start : joins.back().offset - joins.back().at;
  for (std::uint64_t gap = unit();
       gap <= kAnyGapSearchBytes && tries > 0 && !state_.any_gap_spent(); gap += unit()) {
    const std::uint64_t next_header = base + gap + (*chunk)->end();
    if (next_header + 8 > limit) break;
    KESTREL_TRY_ASSIGN(header, state_.reader().view(next_header, 8, limit));
    if (!can_start_png_chunk(*header)) continue;
    KESTREL_TRY_ASSIGN(ats, png_joins_with_crc(sofar, state_.reader(), **chunk, base + gap, limit));
    for (const std::uint64_t at : *ats) {
      if (tries-- <= 0) break;
      PieceJoins joined_at = joins;
      joined_at.push_back({at, base + gap + at});
      if (state_.handed_out(joined_at.back().offset)) continue;
      auto further = png_joined_at(joined_at, start, limit, length, tries);
      if (!further || *further) return further;
    }
  }
  return std::optional<PiecedFile>{};
}

// The PNG joined at `joins`, when it checks to IEND; when it breaks off again
// in a later chunk, its next piece is looked for the same way.
std::expected<std::optional<PiecedFile>, RecoveryError> PngContinuationSearch::png_joined_at(
    const PieceJoins& joins, std::uint64_t start, std::uint64_t limit,
    std::optional<std::uint64_t> length, int& tries) {
  FileArea joined(state_.reader(), start, limit, state_.grid(), joins);
  KESTREL_TRY_ASSIGN(end, find_file_end(FileFamily::Png, joined));
  if (!*end) return std::optional<PiecedFile>{};
  if ((*end)->finding == EndFinding::Checked)
    return state_.take_joined(FileFamily::Png, start, joins, **end, length);
  // The chunk cut at the join checked: a break past it is another one.
  if ((*end)->finding != EndFinding::Broken || (*end)->confirmed <= joins.back().at)
    return std::optional<PiecedFile>{};
  return next_png_piece(joins, start, limit, (*end)->confirmed, length, tries);
}

}  // namespace kestrel
