#include "recovery-core/carving/second_piece_search.hpp"

#include <algorithm>
#include <vector>

#include "recovery-core/carving/carving_pass.hpp"
#include "recovery-core/content/content_messages.hpp"
#include "recovery-core/content/file_end/iso_media_join.hpp"
#include "recovery-core/content/file_end/iso_media_pieces.hpp"
#include "recovery-core/content/file_end/png_join.hpp"
#include "recovery-core/content/file_end/text_unit.hpp"
#include "recovery-core/content/file_end/zip_join.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// The reader's window: two of the longest views.
constexpr std::size_t kWindowBytes = 2 * AreaReader::kMaxView;
// How far past what a broken structure vouched for the join is looked for:
// the structure may break only at the end of the chunk or entry that spans it.
constexpr std::uint64_t kJoinSearchBytes = 16u << 20;
// A JPEG's structure breaks where the next file's header (or a unit of text or
// zeros) interrupts its entropy-coded data, so the file after its first piece
// starts close to that: when no header comes within this much, the gap holds
// no file to step over and the search across any gap takes over.
constexpr std::uint64_t kJpegJoinSearchBytes = 1u << 20;
// The most whole files, and bytes, stepped over between the two pieces.
constexpr int kMaxGapFiles = 64;
constexpr std::uint64_t kMaxGapBytes = 256u << 20;
// The most unit starts tried as the second piece.
constexpr std::size_t kMaxTries = 8;
// The longest gap without a file that a JPEG of known size is joined across,
// the most places of its EOI tried, and the most joins tried for each.
constexpr std::uint64_t kMaxHeaderlessGap = 4u << 20;
constexpr int kMaxEndsTried = 4;
constexpr int kMaxJoinsTried = 8;
// The bytes of a candidate second piece a JPEG's data is first decoded over.
constexpr std::size_t kContinuationProbeBytes = 4u << 10;
// How far past the first piece a second one is looked for across any gap:
// every unit start there is looked at, so the search reads all of it.
constexpr std::uint64_t kAnyGapSearchBytes = 4u << 20;
// The most joined JPEGs decoded to the end for one area and for one file: a
// gap holding another photo's data, coded with the same tables, passes the
// quick test at every unit start and fails only at the end.
constexpr int kMaxAnyGapDecodes = 1024;
constexpr int kMaxAnyGapDecodesPerFile = 64;
// The most of those spent looking for the piece after one that broke off again.
constexpr int kMaxFurtherPieceDecodes = 16;
// The most end records of ZIP packages taken past a package's break, and the
// joins tried for each (the unit starts before the break, each checked by
// reading the member the join cuts).
constexpr std::size_t kMaxZipTails = 4;
constexpr int kMaxZipJoins = 64;
// A PNG is joined across any gap only within a chunk of at most this much
// data, and at most this many joins are checked to its end for each file.
constexpr std::uint32_t kMaxPngJoinChunk = 16u << 20;
constexpr int kMaxPngJoins = 64;
// How far past a movie's mdat its moov is looked for, and the most moov
// boxes found there that are tried, first first.
constexpr std::uint64_t kMoovSearchBytes = 64u << 20;
constexpr std::size_t kMaxMoovs = 4;
// Where units are sectors, the file system's clusters are not known: the
// second piece is tried at each cluster size up to this one.
constexpr std::uint64_t kLargestCluster = 64u << 10;

// Whether the family's end rule checks the bytes at the join by position or
// content, so that a second piece in the wrong place fails it: the next chunk,
// entry, box or CRC must fall exactly where the structure says. A JPEG's
// entropy-coded data is checked by decoding it.
bool checks_the_join(FileFamily family) {
  switch (family) {
    case FileFamily::Jpeg:
    case FileFamily::Png:
    case FileFamily::Zip:
    case FileFamily::IsoMedia:
    case FileFamily::Riff:
      return true;
    default:
      return false;
  }
}

std::uint64_t round_up_from(std::uint64_t position, std::uint64_t start, std::uint64_t step) {
  return start + (position - start + step - 1) / step * step;
}

}  // namespace

SecondPieceSearch::SecondPieceSearch(ByteSource& source, UnitGrid grid, bool clusters,
                                     std::uint64_t budget_bytes)
    : reader_(source, kWindowBytes), grid_(grid), clusters_(clusters), budget_(budget_bytes) {}

std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::complete(
    FileFamily family, std::uint64_t start, std::uint64_t limit, const FileEnd& broken,
    std::optional<std::uint64_t> length) {
  auto joined = complete_past_files(family, start, limit, broken, length);
  if (!joined || *joined) return joined;
  // The search across any gap reads against a budget of its own: a file
  // whose end rule ran over the rest of the area must not leave the next
  // one without it.
  any_gap_mark_ = reader_.bytes_read();
  switch (family) {
    case FileFamily::Jpeg:
      joined = complete_jpeg_any_gap(start, limit, broken.confirmed, length);
      break;
    case FileFamily::Zip:
      joined = complete_zip_any_gap(start, limit, broken.confirmed, length);
      break;
    case FileFamily::Png: {
      int tries = kMaxPngJoins;
      joined = next_png_piece({}, start, limit, broken.confirmed, length, tries);
      break;
    }
    case FileFamily::IsoMedia:
      joined = complete_video_any_gap(start, limit, broken.confirmed, length);
      break;
    default:
      break;
  }
  any_gap_read_ += reader_.bytes_read() - any_gap_mark_;
  return joined;
}

std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::complete_past_files(
    FileFamily family, std::uint64_t start, std::uint64_t limit, const FileEnd& broken,
    std::optional<std::uint64_t> length) {
  if (grid_.unit == 0 || spent() || !checks_the_join(family)) return std::optional<PiecedFile>{};
  KESTREL_TRY_ASSIGN(
      join, first_header_unit(start, start + broken.confirmed, limit, family == FileFamily::Jpeg));
  if (!*join) return std::optional<PiecedFile>{};
  KESTREL_TRY_ASSIGN(gap_end, past_whole_files(start, **join, limit));
  if (*gap_end == **join) return std::optional<PiecedFile>{};
  for (const std::uint64_t second : tries(start, *gap_end, limit)) {
    if (spent()) break;
    if (handed_out_.contains(second)) continue;  // the rest of a file completed before
    KESTREL_TRY_ASSIGN(header, holds_header(second, limit));
    if (*header) continue;  // another file starts there, not the rest of this one
    const TwoPieces pieces{**join - start, second};
    auto joined = check_joined(family, start, limit, pieces, length);
    if (!joined || *joined) return joined;
  }
  return std::optional<PiecedFile>{};
}

std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::check_joined(
    FileFamily family, std::uint64_t start, std::uint64_t limit, TwoPieces pieces,
    std::optional<std::uint64_t> length) {
  return check_joined(family, start, limit, joins_of(pieces), length);
}

std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::check_joined(
    FileFamily family, std::uint64_t start, std::uint64_t limit, const PieceJoins& joins,
    std::optional<std::uint64_t> length, bool decoded_whole) {
  FileArea joined(reader_, start, limit, grid_, joins);
  KESTREL_TRY_ASSIGN(end, find_file_end(family, joined));
  if (!*end) return std::optional<PiecedFile>{};
  return take_joined(family, start, joins, **end, length, decoded_whole);
}

std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::take_joined(
    FileFamily family, std::uint64_t start, const PieceJoins& joins, const FileEnd& end,
    std::optional<std::uint64_t> length, bool decoded_whole) {
  const PieceJoin& last = joins.back();
  if (end.finding != EndFinding::Checked || end.length <= last.at ||
      (length && end.length != *length)) {
    return std::optional<PiecedFile>{};
  }
  if (family == FileFamily::Jpeg && !decoded_whole) {
    // Markers alone would pass the middle of any other JPEG's data: the
    // joined data must decode to exactly the frame's blocks.
    FileArea whole(reader_, start, last.offset + (end.length - last.at), grid_, joins);
    KESTREL_TRY_ASSIGN(scan, check_jpeg_scan(whole));
    if (*scan != JpegScanCheck::Whole) return std::optional<PiecedFile>{};
  }
  for (const PieceJoin& join : joins) handed_out_.insert(join.offset);
  return PiecedFile{joins, end};
}

std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::complete_jpeg_across_gap(
    std::uint64_t start, std::uint64_t limit, std::uint64_t size) {
  if (grid_.unit == 0 || spent() || size < 4 || size > limit - start)
    return std::optional<PiecedFile>{};
  FileArea contiguous(reader_, start, limit, grid_);
  KESTREL_TRY_ASSIGN(decoded, decode_jpeg_scan(contiguous));
  if (decoded->check != JpegScanCheck::Broken || decoded->stopped_at <= grid_.unit) {
    return std::optional<PiecedFile>{};
  }
  int ends = 0;
  for (std::uint64_t gap = grid_.unit; gap <= kMaxHeaderlessGap && ends < kMaxEndsTried && !spent();
       gap += grid_.unit) {
    const std::uint64_t eoi = start + size - 2 + gap;
    if (eoi + 2 > limit) break;
    KESTREL_TRY_ASSIGN(mark, reader_.view(eoi, 2, limit));
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
std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::join_across(
    std::uint64_t start, std::uint64_t limit, std::uint64_t size, std::uint64_t gap,
    std::uint64_t stopped_at) {
  const std::uint64_t last = std::min(stopped_at, size - 1) / grid_.unit * grid_.unit;
  int joins = 0;
  for (std::uint64_t first = last; first >= grid_.unit && joins < kMaxJoinsTried && !spent();
       first -= grid_.unit, ++joins) {
    const std::uint64_t second = start + first + gap;
    if (handed_out_.contains(second)) continue;
    KESTREL_TRY_ASSIGN(header, holds_header(second, limit));
    if (*header) continue;
    auto joined = check_joined(FileFamily::Jpeg, start, limit, TwoPieces{first, second}, size);
    if (!joined || *joined) return joined;
  }
  return std::optional<PiecedFile>{};
}

std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::complete_jpeg_any_gap(
    std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
    std::optional<std::uint64_t> length) {
  if (grid_.unit == 0 || any_gap_spent() || broken_at > limit - start)
    return std::optional<PiecedFile>{};
  FileArea first(reader_, start, start + broken_at, grid_);
  KESTREL_TRY_ASSIGN(decoded, JpegScanResume::decode(first, grid_.unit));
  return next_jpeg_piece(*decoded, {}, start, limit, length,
                         any_gap_decodes_ + kMaxAnyGapDecodesPerFile);
}

std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::next_jpeg_piece(
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
    KESTREL_TRY_ASSIGN(tail, reader_.view(source_of(*from), at - *from, limit));
    tails.push_back({at, std::vector<std::uint8_t>(tail->begin(), tail->end())});
  }
  const std::uint64_t window_end = std::min(limit, source_of(points.front()) + kAnyGapSearchBytes);
  for (std::uint64_t next = source_of(points.back()) + grid_.unit; next < window_end;
       next += grid_.unit) {
    if (any_gap_spent() || any_gap_decodes_ >= kMaxAnyGapDecodes ||
        any_gap_decodes_ >= decode_limit) {
      break;
    }
    if (handed_out_.contains(next)) continue;
    auto joined =
        try_any_gap_continuation(decoded, tails, joins, start, limit, next, length, decode_limit);
    if (!joined || *joined) return joined;
  }
  return std::optional<PiecedFile>{};
}

std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::complete_zip_any_gap(
    std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
    std::optional<std::uint64_t> length) {
  if (grid_.unit == 0 || any_gap_spent() || broken_at > limit - start)
    return std::optional<PiecedFile>{};
  const std::uint64_t from = start + broken_at;
  KESTREL_TRY_ASSIGN(
      tails, find_zip_tails(reader_, from, std::min(limit, from + kJoinSearchBytes), kMaxZipTails));
  for (const ZipTail& tail : *tails) {
    if (tail.position < start + tail.record_offset()) continue;
    const std::uint64_t gap = tail.position - start - tail.record_offset();
    if (gap < grid_.unit || gap % grid_.unit != 0) continue;
    auto joined = join_zip_across(start, limit, broken_at, tail, gap, length);
    if (!joined || *joined) return joined;
  }
  return std::optional<PiecedFile>{};
}

std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::next_png_piece(
    const PieceJoins& joins, std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
    std::optional<std::uint64_t> length, int& tries) {
  if (grid_.unit == 0 || joins.size() + 1 >= kMaxCarvedPieces) return std::optional<PiecedFile>{};
  FileArea sofar = joins.empty() ? FileArea(reader_, start, limit, grid_)
                                 : FileArea(reader_, start, limit, grid_, joins);
  KESTREL_TRY_ASSIGN(chunk, png_chunk_at(sofar, broken_at));
  if (!*chunk || (*chunk)->length > kMaxPngJoinChunk) return std::optional<PiecedFile>{};
  // Where each file position would lie were the last piece to go on.
  const std::uint64_t base = joins.empty() ? start : joins.back().offset - joins.back().at;
  for (std::uint64_t gap = grid_.unit; gap <= kAnyGapSearchBytes && tries > 0 && !any_gap_spent();
       gap += grid_.unit) {
    const std::uint64_t next_header = base + gap + (*chunk)->end();
    if (next_header + 8 > limit) break;
    KESTREL_TRY_ASSIGN(header, reader_.view(next_header, 8, limit));
    if (!can_start_png_chunk(*header)) continue;
    KESTREL_TRY_ASSIGN(ats, png_joins_with_crc(sofar, reader_, **chunk, base + gap, limit));
    for (const std::uint64_t at : *ats) {
      if (tries-- <= 0) break;
      PieceJoins joined_at = joins;
      joined_at.push_back({at, base + gap + at});
      if (handed_out_.contains(joined_at.back().offset)) continue;
      auto further = png_joined_at(joined_at, start, limit, length, tries);
      if (!further || *further) return further;
    }
  }
  return std::optional<PiecedFile>{};
}

// The PNG joined at `joins`, when it checks to IEND; when it breaks off again
// in a later chunk, its next piece is looked for the same way.
std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::png_joined_at(
    const PieceJoins& joins, std::uint64_t start, std::uint64_t limit,
    std::optional<std::uint64_t> length, int& tries) {
  FileArea joined(reader_, start, limit, grid_, joins);
  KESTREL_TRY_ASSIGN(end, find_file_end(FileFamily::Png, joined));
  if (!*end) return std::optional<PiecedFile>{};
  if ((*end)->finding == EndFinding::Checked)
    return take_joined(FileFamily::Png, start, joins, **end, length);
  // The chunk cut at the join checked: a break past it is another one.
  if ((*end)->finding != EndFinding::Broken || (*end)->confirmed <= joins.back().at)
    return std::optional<PiecedFile>{};
  return next_png_piece(joins, start, limit, (*end)->confirmed, length, tries);
}

// Tries the joins of a ZIP package whose second piece lies `gap` bytes past
// its first, at the unit starts up to just after where it broke off, latest
// first.
std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::join_zip_across(
    std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at, const ZipTail& tail,
    std::uint64_t gap, std::optional<std::uint64_t> length) {
  int tries = 0;
  // The structure may break off just before the join too (in a record the
  // join cuts): the unit start after the break is the first tried.
  for (std::uint64_t first = (broken_at + grid_.unit - 1) / grid_.unit * grid_.unit;
       first >= grid_.unit && tries < kMaxZipJoins && !any_gap_spent();
       first -= grid_.unit, ++tries) {
    const TwoPieces pieces{first, start + first + gap};
    if (pieces.second_offset >= limit || handed_out_.contains(pieces.second_offset)) continue;
    FileArea joined(reader_, start, limit, grid_, pieces);
    KESTREL_TRY_ASSIGN(holds, zip_join_holds(joined, tail, first));
    if (!*holds) continue;
    auto file = check_joined(FileFamily::Zip, start, limit, pieces, length);
    if (!file || *file) return file;
  }
  return std::optional<PiecedFile>{};
}

std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::complete_video_any_gap(
    std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
    std::optional<std::uint64_t> length) {
  if (grid_.unit == 0 || any_gap_spent() || broken_at > limit - start)
    return std::optional<PiecedFile>{};
  FileArea contiguous(reader_, start, limit, grid_);
  KESTREL_TRY_ASSIGN(mdat, find_broken_mdat(contiguous, broken_at));
  if (!*mdat) {
    // A movie with its moov first broke off where a video sample stopped
    // parsing: the tables are there to follow its pieces by.
    KESTREL_TRY_ASSIGN(first, find_moov_first(contiguous));
    if (!*first) return std::optional<PiecedFile>{};
    KESTREL_TRY_ASSIGN(track, read_moov_video_track(contiguous, (*first)->moov, (*first)->mdat));
    if (!*track) return std::optional<PiecedFile>{};
    return join_video(start, limit, **track, (*first)->mdat, std::nullopt, length);
  }
  const std::uint64_t end = start + (*mdat)->end;
  const std::uint64_t to = std::min({limit, end + kMoovSearchBytes, end + any_gap_left()});
  std::uint64_t from = end + grid_.unit;
  for (std::size_t tried = 0; tried < kMaxMoovs && !any_gap_spent(); ++tried) {
    KESTREL_TRY_ASSIGN(found, find_moov_box(reader_, from, to, grid_.unit));
    if (!*found) break;
    const std::uint64_t position = **found;
    from = position + grid_.unit;
    KESTREL_TRY_ASSIGN(track, read_moov_video_track(reader_, position, limit, **mdat));
    if (!*track) continue;
    auto file = join_video(start, limit, **track, **mdat, position - end, length);
    if (!file || *file) return file;
  }
  return std::optional<PiecedFile>{};
}

std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::join_video(
    std::uint64_t start, std::uint64_t limit, const VideoTrack& track, MdatSpan mdat,
    std::optional<std::uint64_t> gap, std::optional<std::uint64_t> length) {
  KESTREL_TRY_ASSIGN(joins, find_video_joins(reader_, start, limit, grid_, track, mdat, gap,
                                             reader_.bytes_read() + any_gap_left()));
  if (!*joins) return std::optional<PiecedFile>{};
  for (const PieceJoin& join : **joins) {
    if (handed_out_.contains(join.offset)) return std::optional<PiecedFile>{};
  }
  auto file = check_joined(FileFamily::IsoMedia, start, limit, **joins, length);
  if (!file || !*file) return file;
  KESTREL_TRY_ASSIGN(pinned, video_joins_are_pinned(reader_, start, limit, grid_, track, **joins));
  if (!*pinned) {
    // Nothing checks the first unit after a join: the file is given back as
    // joined, but not graded as one checked to its end.
    (*file)->end.finding = EndFinding::Unchecked;
    (*file)->end.note = kIsoMediaUnpinnedJoinNote;
  }
  return file;
}

// The unit start `next` as the next piece of the JPEG `decoded`, after each
// join point that ends before it.
std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::try_any_gap_continuation(
    const JpegScanResume& decoded, const std::vector<JoinTail>& tails, const PieceJoins& joins,
    std::uint64_t start, std::uint64_t limit, std::uint64_t next,
    std::optional<std::uint64_t> length, int decode_limit) {
  KESTREL_TRY_ASSIGN(probe, reader_.view(next, kContinuationProbeBytes, limit));
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
    if (piece_offset + (tail.at - piece_at) + grid_.unit > next) continue;
    if (!decoded.can_continue(tail.at, tail.bytes, continuation)) continue;
    ++any_gap_decodes_;
    PieceJoins joined_at = joins;
    joined_at.push_back({tail.at, next});
    FileArea joined(reader_, start, limit, grid_, joined_at);
    KESTREL_TRY_ASSIGN(resumed, decoded.resume(joined, tail.at, grid_.unit));
    const JpegScanOutcome& outcome = resumed->outcome();
    if (outcome.check == JpegScanCheck::Whole) {
      auto file = check_joined(FileFamily::Jpeg, start, limit, joined_at, length, true);
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

std::expected<std::optional<std::uint64_t>, RecoveryError> SecondPieceSearch::first_header_unit(
    std::uint64_t start, std::uint64_t confirmed_end, std::uint64_t limit, bool or_text) {
  const std::uint64_t end =
      std::min(limit, confirmed_end + (or_text ? kJpegJoinSearchBytes : kJoinSearchBytes));
  for (std::uint64_t unit = start + grid_.unit; unit < end && !spent(); unit += grid_.unit) {
    KESTREL_TRY_ASSIGN(header, holds_header(unit, limit));
    if (*header) return std::optional<std::uint64_t>{unit};
    if (!or_text) continue;
    KESTREL_TRY_ASSIGN(text, holds_text_unit(unit, limit));
    if (*text) return std::optional<std::uint64_t>{unit};
  }
  return std::optional<std::uint64_t>{};
}

std::expected<bool, RecoveryError> SecondPieceSearch::holds_text_unit(std::uint64_t position,
                                                                      std::uint64_t limit) {
  KESTREL_TRY_ASSIGN(unit, reader_.view(position, grid_.unit, limit));
  return unit->size() == grid_.unit && holds_only_text(*unit);
}

std::expected<std::uint64_t, RecoveryError> SecondPieceSearch::past_whole_files(
    std::uint64_t start, std::uint64_t from, std::uint64_t limit) {
  const std::uint64_t cluster = largest_cluster(from - start);
  std::uint64_t position = from;
  for (int files = 0;
       files < kMaxGapFiles && position < limit && position - from < kMaxGapBytes && !spent();
       ++files) {
    KESTREL_TRY_ASSIGN(header, reader_.view(position, kHeaderProbeBytes, limit));
    const std::optional<FileFamily> family = probe_file_header(*header);
    if (!family) {
      // A unit of text (a text file between the pieces) is stepped over too.
      KESTREL_TRY_ASSIGN(text, holds_text_unit(position, limit));
      if (!*text) break;
      position += grid_.unit;
      continue;
    }
    FileArea area(reader_, position, limit, grid_);
    KESTREL_TRY_ASSIGN(end, find_file_end(*family, area));
    if (!*end) break;
    KESTREL_TRY_ASSIGN(
        next, next_file_start(start, resume_after(**end, position, grid_), cluster, limit));
    position = *next;
  }
  return position;
}

// The file after one that ends at the unit start `end` starts at the next
// cluster start. Where units are sectors the cluster size is not known: the
// largest that the first piece allows is tried first, then smaller ones; the
// unit start `end` when none holds a header.
std::expected<std::uint64_t, RecoveryError> SecondPieceSearch::next_file_start(
    std::uint64_t start, std::uint64_t end, std::uint64_t cluster, std::uint64_t limit) {
  for (std::uint64_t size = cluster; size > grid_.unit; size /= 2) {
    const std::uint64_t at = round_up_from(end, start, size);
    if (at >= limit) continue;
    KESTREL_TRY_ASSIGN(header, holds_header(at, limit));
    if (*header) return at;
  }
  return end;
}

// The largest cluster size a first piece of `length` bytes allows (it holds
// whole clusters): the unit itself in a volume, else the largest power of two
// up to kLargestCluster that divides the length.
std::uint64_t SecondPieceSearch::largest_cluster(std::uint64_t length) const {
  if (clusters_) return grid_.unit;
  std::uint64_t size = grid_.unit;
  while (size * 2 <= kLargestCluster && length % (size * 2) == 0) size *= 2;
  return size;
}

std::expected<bool, RecoveryError> SecondPieceSearch::holds_header(std::uint64_t position,
                                                                   std::uint64_t limit) {
  KESTREL_TRY_ASSIGN(header, reader_.view(position, kHeaderProbeBytes, limit));
  return probe_file_header(*header).has_value();
}

// The unit start right after the gap, and the next few; where units are
// sectors, also the next start of each possible cluster size, counted from
// the file's first byte.
std::vector<std::uint64_t> SecondPieceSearch::tries(std::uint64_t start, std::uint64_t gap_end,
                                                    std::uint64_t limit) const {
  std::vector<std::uint64_t> positions;
  const auto add = [&](std::uint64_t position) {
    if (position < limit &&
        std::find(positions.begin(), positions.end(), position) == positions.end()) {
      positions.push_back(position);
    }
  };
  add(gap_end);
  if (!clusters_) {
    for (std::uint64_t size = std::uint64_t{2} * grid_.unit; size <= kLargestCluster; size *= 2) {
      add(round_up_from(gap_end, start, size));
    }
  }
  for (std::uint64_t next = 1; next <= 3; ++next) add(gap_end + next * grid_.unit);
  std::sort(positions.begin(), positions.end());
  if (positions.size() > kMaxTries) positions.resize(kMaxTries);
  return positions;
}

}  // namespace kestrel
