#include "recovery-core/carving/jpeg_continuation_search.hpp"

#include <algorithm>
#include <vector>

#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// The longest gap without a file that a JPEG of known size is joined across,
// the most places of its EOI tried, and the most joins tried for each.
constexpr std::uint64_t kMaxHeaderlessGap = 4u << 20;
constexpr int kMaxEndsTried = 4;
constexpr int kMaxJoinsTried = 8;
// The bytes of a candidate next piece a JPEG's data is first decoded over.
constexpr std::size_t kContinuationProbeBytes = 4u << 10;
// The most joined JPEGs decoded to the end for one area and for one file: a
// gap holding another photo's data, coded with the same tables, passes the
// quick test at every unit start and fails only at the end.
constexpr int kMaxAnyGapDecodes = 1024;
constexpr int kMaxAnyGapDecodesPerFile = 64;
// The most of those spent looking for the piece after one that broke off again.
constexpr int kMaxFurtherPieceDecodes = 16;

}  // namespace

std::expected<std::optional<PiecedFile>, RecoveryError> JpegContinuationSearch::complete(
    std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
    std::optional<std::uint64_t> length) {
  if (unit() == 0 || state_.any_gap_spent() || broken_at > limit - start)
    return std::optional<PiecedFile>{};
  FileArea first(state_.reader(), start, start + broken_at, state_.grid());
  KESTREL_TRY_ASSIGN(decoded, JpegScanResume::decode(first, unit()));
  return next_jpeg_piece(*decoded, {}, start, limit, length,
                         any_gap_decodes_ + kMaxAnyGapDecodesPerFile);
}

std::expected<std::optional<PiecedFile>, RecoveryError> JpegContinuationSearch::next_jpeg_piece(
    const JpegScanResume& decoded, const PieceJoins& joins, std::uint64_t start,
    std::uint64_t limit, std::optional<std::uint64_t> length, int decode_limit) {
  const std::vector<std::uint64_t> points = decoded.join_points();
  if (points.empty() || joins.size() + 1 >= kMaxCarvedPieces) return std::optional<PiecedFile>{};
  // Every join point lies in the last piece so far.
  const std::uint64_t piece_at = joins.empty() ? 0 : joins.back().at;
  const std::uint64_t piece_offset = joins.empty() ? start : joins.back().offset;
  const auto source_of = [&](std::uint64_t at) { return piece_offset + (at - piece_at); };
  // The file's last bytes before each join point, read once: the candidates
  // are then read forward only.
  std::vector<JoinTail> tails;
  for (const std::uint64_t at : points) {
    const std::optional<std::uint64_t> from = decoded.tail_start(at);
    if (!from || *from < piece_at) continue;
    KESTREL_TRY_ASSIGN(tail, state_.reader().view(source_of(*from), at - *from, limit));
    tails.push_back({at, std::vector<std::uint8_t>(tail->begin(), tail->end())});
  }
  const std::uint64_t window_end = std::min(limit, source_of(points.front()) + kAnyGapSearchBytes);
  for (std::uint64_t next = source_of(points.back()) + unit(); next < window_end; next += unit()) {
    if (state_.any_gap_spent() || any_gap_decodes_ >= kMaxAnyGapDecodes ||
        any_gap_decodes_ >= decode_limit) {
      break;
    }
    if (state_.handed_out(next)) continue;
    auto joined =
        try_any_gap_continuation(decoded, tails, joins, start, limit, next, length, decode_limit);
    if (!joined || *joined) return joined;
  }
  return std::optional<PiecedFile>{};
}

// The unit start `next` as the next piece of the JPEG `decoded`, after each
// join point that ends before it.
std::expected<std::optional<PiecedFile>, RecoveryError>
JpegContinuationSearch::try_any_gap_continuation(const JpegScanResume& decoded,
                                                 const std::vector<JoinTail>& tails,
                                                 const PieceJoins& joins, std::uint64_t start,
                                                 std::uint64_t limit, std::uint64_t next,
                                                 std::optional<std::uint64_t> length,
                                                 int decode_limit) {
  KESTREL_TRY_ASSIGN(probe, state_.reader().view(next, kContinuationProbeBytes, limit));
  if (probe_file_header(probe->first(std::min(probe->size(), kHeaderProbeBytes))) ||
      !can_be_jpeg_entropy_data(*probe)) {
    return std::optional<PiecedFile>{};
  }
  // Kept: the full decodes below move the reader's window.
  const std::vector<std::uint8_t> continuation(probe->begin(), probe->end());
  const std::uint64_t piece_at = joins.empty() ? 0 : joins.back().at;
  const std::uint64_t piece_offset = joins.empty() ? start : joins.back().offset;
  // The join that decoded on furthest before it broke off again.
  std::optional<JpegScanResume> furthest;
  PieceJoins furthest_joins;
  for (const JoinTail& tail : tails) {
    // The gap is one unit at least.
    if (piece_offset + (tail.at - piece_at) + unit() > next) continue;
    if (!decoded.can_continue(tail.at, tail.bytes, continuation)) continue;
    ++any_gap_decodes_;
    PieceJoins joined_at = joins;
    joined_at.push_back({tail.at, next});
    FileArea joined(state_.reader(), start, limit, state_.grid(), joined_at);
    KESTREL_TRY_ASSIGN(resumed, decoded.resume(joined, tail.at, tail.bytes, unit()));
    const JpegScanOutcome& outcome = resumed->outcome();
    if (outcome.check == JpegScanCheck::Whole) {
      auto file = state_.check_joined(FileFamily::Jpeg, start, limit, joined_at, length, true);
      if (!file || *file) return file;
      continue;
    }
    // A piece after the second is looked for only in data with restart
    // markers: each join must then land on the marker due next, after exactly
    // the blocks of an interval. Without them, a small photo's blocks add up
    // to the frame's too easily across pieces of other photos coded with the
    // same tables. Data that ran on to its EOI short of the frame's blocks
    // was joined wrongly rather than cut short again.
    if (!decoded.has_restarts() || outcome.check != JpegScanCheck::Broken || outcome.at_eoi ||
        outcome.stopped_at < tail.at + kContinuationProbeBytes ||
        (furthest && furthest->outcome().stopped_at >= outcome.stopped_at)) {
      continue;
    }
    furthest = std::move(*resumed);
    furthest_joins = std::move(joined_at);
  }
  if (!furthest || furthest_joins.size() + 1 >= kMaxCarvedPieces)
    return std::optional<PiecedFile>{};
  // Decoded on well past the bytes the quick test saw, then broken off again
  // short of the EOI: the piece ends at a unit start before that and another
  // may follow. That search gets a few decodes only, so that a wrong piece
  // does not take those of the joins still to be tried.
  return next_jpeg_piece(*furthest, furthest_joins, start, limit, length,
                         std::min(decode_limit, any_gap_decodes_ + kMaxFurtherPieceDecodes));
}

std::expected<std::optional<PiecedFile>, RecoveryError> JpegAcrossGap::complete(
    std::uint64_t start, std::uint64_t limit, std::uint64_t size) {
  if (unit() == 0 || state_.spent() || size < 4 || size > limit - start)
    return std::optional<PiecedFile>{};
  FileArea contiguous(state_.reader(), start, limit, state_.grid());
  KESTREL_TRY_ASSIGN(decoded, decode_jpeg_scan(contiguous));
  if (decoded->check != JpegScanCheck::Broken || decoded->stopped_at <= unit()) {
    return std::optional<PiecedFile>{};
  }
  int ends = 0;
  for (std::uint64_t gap = unit();
       gap <= kMaxHeaderlessGap && ends < kMaxEndsTried && !state_.spent(); gap += unit()) {
    const std::uint64_t eoi = start + size - 2 + gap;
    if (eoi + 2 > limit) break;
    KESTREL_TRY_ASSIGN(mark, state_.reader().view(eoi, 2, limit));
    if ((*mark)[0] != 0xFF || (*mark)[1] != 0xD9) continue;
    ++ends;
    auto joined = join_across(start, limit, size, gap, decoded->stopped_at);
    if (!joined || *joined) return joined;
  }
  return std::optional<PiecedFile>{};
}

// Tries the joins of a file of `size` bytes whose second piece lies `gap`
// bytes past where the first ends, at the unit starts up to where its data
// stopped decoding, latest first.
std::expected<std::optional<PiecedFile>, RecoveryError> JpegAcrossGap::join_across(
    std::uint64_t start, std::uint64_t limit, std::uint64_t size, std::uint64_t gap,
    std::uint64_t stopped_at) {
  const std::uint64_t last = std::min(stopped_at, size - 1) / unit() * unit();
  int joins = 0;
  for (std::uint64_t first = last; first >= unit() && joins < kMaxJoinsTried && !state_.spent();
       first -= unit(), ++joins) {
    const std::uint64_t second = start + first + gap;
    if (state_.handed_out(second)) continue;
    KESTREL_TRY_ASSIGN(header, state_.holds_header(second, limit));
    if (*header) continue;
    auto joined =
        state_.check_joined(FileFamily::Jpeg, start, limit, PieceJoins{{first, second}}, size);
    if (!joined || *joined) return joined;
  }
  return std::optional<PiecedFile>{};
}

}  // namespace kestrel
