#include "recovery-core/carving/zip_continuation_search.hpp"

#include <algorithm>

#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// How far past the break the package's end records are looked for.
constexpr std::uint64_t kZipTailSearchBytes = 16u << 20;
// The most end records taken past a package's break, and the joins tried for
// each (the unit starts before the break, each checked by reading the member
// the join cuts).
constexpr std::size_t kMaxZipTails = 4;
constexpr int kMaxZipJoins = 64;
// For a package in more than two pieces: the unit starts before each break
// tried as a join, and the joins checked in all (each by the CRC-32 of the
// member it cuts, or by the end rule).
constexpr int kMaxZipPieceJoins = 16;
// In a member whose sizes follow its data, the break is where the data stops
// inflating, which may lie well past the join (random bytes read on as
// literals until a code fails or a block's length runs out): as many unit
// starts are tried as for two pieces.
constexpr int kMaxStreamedPieceJoins = kMaxZipJoins;
constexpr int kMaxZipPieceTries = 64;
// A local header without its name, an end record, and the longest comment
// after an end record.
constexpr std::size_t kLocalHeaderBytes = 30;
constexpr std::uint64_t kEndRecordBytes = 22;
constexpr std::uint64_t kLongestComment = 65535;

std::uint64_t round_up(std::uint64_t value, std::uint64_t step) {
  return (value + step - 1) / step * step;
}

}  // namespace

std::expected<std::optional<PiecedFile>, RecoveryError> ZipContinuationSearch::complete(
    std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
    std::optional<std::uint64_t> length) {
  if (unit() == 0 || state_.any_gap_spent() || broken_at > limit - start)
    return std::optional<PiecedFile>{};
  const std::uint64_t to = std::min(limit, start + broken_at + kZipTailSearchBytes);
  // The end records are looked for one at a time: the package's own usually
  // comes soon after the break, and the search need read no further.
  std::uint64_t from = start + broken_at;
  for (std::size_t found = 0; found < kMaxZipTails && from < to && !state_.any_gap_spent();
       ++found) {
    KESTREL_TRY_ASSIGN(tails, find_zip_tails(state_.reader(), from, to, 1));
    if (tails->empty()) break;
    const ZipTail& tail = tails->front();
    from = tail.position + 1;
    if (tail.position < start + tail.record_offset()) continue;
    const std::uint64_t gap = tail.position - start - tail.record_offset();
    if (gap < unit() || gap % unit() != 0) continue;
    // The package ends with its end record and comment: no walk over its
    // pieces need read further.
    const std::uint64_t package_limit =
        std::min(limit, tail.position + kEndRecordBytes + kLongestComment);
    // The central directory, read once where the end record found it, says
    // what every join must hold.
    KESTREL_TRY_ASSIGN(members, ZipMembers::read(state_.reader(), tail));
    if (!*members) continue;
    auto joined = join_zip_across(start, package_limit, broken_at, **members, gap, length);
    if (!joined || *joined) return joined;
    Pieces pieces{**members, gap, length, kMaxZipPieceTries};
    joined = middle_zip_piece(pieces, {}, start, package_limit, broken_at);
    if (!joined || *joined) return joined;
  }
  return std::optional<PiecedFile>{};
}

// Tries the joins of a ZIP package whose second piece lies `gap` bytes past
// its first, at the unit starts up to just after where it broke off, latest
// first.
std::expected<std::optional<PiecedFile>, RecoveryError> ZipContinuationSearch::join_zip_across(
    std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at, const ZipMembers& members,
    std::uint64_t gap, std::optional<std::uint64_t> length) {
  int tries = 0;
  // The structure may break off just before the join too (in a record the
  // join cuts): the unit start after the break is the first tried.
  for (std::uint64_t first = round_up(broken_at, unit());
       first >= unit() && tries < kMaxZipJoins && !state_.any_gap_spent();
       first -= unit(), ++tries) {
    const PieceJoins pieces{{first, start + first + gap}};
    if (pieces.front().offset >= limit || state_.handed_out(pieces.front().offset)) continue;
    FileArea joined(state_.reader(), start, limit, state_.grid(), pieces);
    KESTREL_TRY_ASSIGN(holds, members.join_holds(joined, first));
    if (!*holds) continue;
    auto file = state_.check_joined(FileFamily::Zip, start, limit, pieces, length);
    if (!file || *file) return file;
  }
  return std::optional<PiecedFile>{};
}

std::expected<std::optional<PiecedFile>, RecoveryError> ZipContinuationSearch::middle_zip_piece(
    Pieces& pieces, const PieceJoins& joins, std::uint64_t start, std::uint64_t limit,
    std::uint64_t broken_at) {
  if (joins.size() + 2 >= kMaxCarvedPieces) return std::optional<PiecedFile>{};
  const std::uint64_t last_at = joins.empty() ? 0 : joins.back().at;
  const std::uint64_t last_gap = joins.empty() ? 0 : joins.back().offset - start - last_at;
  // The walk breaks off at a local header it expected (or, in a member whose
  // sizes follow its data, where that data stops inflating, before the next
  // header): the piece in between starts before it and holds it, `gap` past
  // where the walk looked.
  const std::optional<std::uint64_t> header = pieces.members.first_header_from(broken_at);
  if (!header || (*header != broken_at && !pieces.members.sizes_follow_data(broken_at)))
    return std::optional<PiecedFile>{};
  const std::uint64_t last_join = std::min(*header, round_up(broken_at, unit())) / unit() * unit();
  const int most_joins =
      pieces.members.sizes_follow_data(broken_at) ? kMaxStreamedPieceJoins : kMaxZipPieceJoins;
  for (std::uint64_t gap = last_gap + unit(); gap < pieces.gap && pieces.tries > 0; gap += unit()) {
    if (state_.any_gap_spent()) break;
    const std::uint64_t at = start + *header + gap;
    if (at + kLocalHeaderBytes > limit) break;
    KESTREL_TRY_ASSIGN(local, state_.reader().view(at, kLocalHeaderBytes, limit));
    if (!pieces.members.header_matches(*header, *local)) continue;
    int joins_tried = 0;
    for (std::uint64_t first = last_join;
         first > last_at && joins_tried < most_joins && pieces.tries > 0;
         first -= unit(), ++joins_tried) {
      PieceJoins joined_at = joins;
      joined_at.push_back({first, start + first + gap});
      if (state_.handed_out(joined_at.back().offset)) continue;
      --pieces.tries;
      FileArea joined(state_.reader(), start, limit, state_.grid(), joined_at);
      // The member this join cuts ends at the header in this piece.
      KESTREL_TRY_ASSIGN(holds, pieces.members.join_holds(joined, first));
      if (!*holds) continue;
      KESTREL_TRY_ASSIGN(end, find_file_end(FileFamily::Zip, joined));
      if (!*end || (*end)->finding != EndFinding::Broken || (*end)->confirmed <= *header) break;
      auto file = last_zip_piece(pieces, joined_at, start, limit, (*end)->confirmed);
      if (!file || *file) return file;
      break;  // the member's CRC-32 fixed the join for this gap
    }
  }
  return std::optional<PiecedFile>{};
}

std::expected<std::optional<PiecedFile>, RecoveryError> ZipContinuationSearch::last_zip_piece(
    Pieces& pieces, const PieceJoins& joins, std::uint64_t start, std::uint64_t limit,
    std::uint64_t broken_at) {
  const std::uint64_t last_at = joins.back().at;
  const int most_joins =
      pieces.members.sizes_follow_data(broken_at) ? kMaxStreamedPieceJoins : kMaxZipPieceJoins;
  int joins_tried = 0;
  for (std::uint64_t first = round_up(broken_at, unit());
       first > last_at && joins_tried < most_joins && pieces.tries > 0 && !state_.any_gap_spent();
       first -= unit(), ++joins_tried) {
    PieceJoins joined_at = joins;
    joined_at.push_back({first, start + first + pieces.gap});
    if (joined_at.back().offset >= limit || state_.handed_out(joined_at.back().offset)) continue;
    --pieces.tries;
    FileArea joined(state_.reader(), start, limit, state_.grid(), joined_at);
    KESTREL_TRY_ASSIGN(holds, pieces.members.join_holds(joined, first));
    if (!*holds) continue;
    auto file = state_.check_joined(FileFamily::Zip, start, limit, joined_at, pieces.length);
    if (!file || *file) return file;
  }
  return middle_zip_piece(pieces, joins, start, limit, broken_at);
}

}  // namespace kestrel
