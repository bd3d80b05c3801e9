#include "recovery-core/content/file_end/iso_media_pieces.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "recovery-core/content/file_end/iso_media_join.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// How far past where a piece would go on the next one is looked for, the most
// unit starts tried as each break's join, the most joins whose samples are
// checked for one break, and the samples that start in the next piece that
// must parse there.
constexpr std::uint64_t kPieceGapBytes = 4u << 20;
constexpr std::size_t kMaxJoinTries = 64;
constexpr std::size_t kMaxJoinsChecked = 1024;
constexpr std::size_t kPieceSamples = 2;

struct MovieSearch {
  AreaReader& reader;
  std::uint64_t start;
  std::uint64_t limit;
  UnitGrid grid;
  const VideoTrack& track;
  MdatSpan mdat;
  std::uint64_t read_until;

  bool spent() const { return reader.bytes_read() >= read_until; }
};

// A join found for one break: its gap, and the samples up to `parsed_to`
// that parse under it.
struct NextJoin {
  PieceJoin join;
  std::uint64_t gap = 0;
  std::size_t parsed_to = 0;
};

// A unit start tried as the join, and the first sample that starts at or
// after it (the first the next piece holds whole, or the sample count).
struct JoinTry {
  std::uint64_t at = 0;
  std::size_t first_inside = 0;
};

std::vector<JoinTry> join_tries(const MovieSearch& s, std::size_t first) {
  const BreakSpan span = break_span(s.track, s.mdat, first);
  const std::vector<VideoSample>& samples = s.track.samples;
  std::vector<JoinTry> tries;
  for (std::uint64_t at = span.up_to / s.grid.unit * s.grid.unit;
       at > span.after && at >= s.grid.unit && tries.size() < kMaxJoinTries; at -= s.grid.unit) {
    const auto inside =
        std::partition_point(samples.begin(), samples.end(),
                             [&](const VideoSample& sample) { return sample.offset < at; });
    tries.push_back({at, static_cast<std::size_t>(inside - samples.begin())});
  }
  return tries;
}

// Whether the sample `index` parses at `offset` of the source, as the first
// sample of a piece that lies there.
std::expected<bool, RecoveryError> parses_at(const MovieSearch& s, std::size_t index,
                                             std::uint64_t offset) {
  if (offset >= s.limit) return false;
  FileArea there(s.reader, offset, s.limit);
  return video_sample_parses(there, s.track, VideoSample{0, s.track.samples[index].size}, false);
}

// The gaps, whole units up to `gap_to` past where the last piece would go on
// from `base`, after which the sample `index` parses as the first sample of
// the next piece; read forward, one place per gap. Nothing when there are so
// many that none is sure or the reading is spent.
std::expected<std::optional<std::vector<std::uint64_t>>, RecoveryError> gaps_where_parses(
    const MovieSearch& s, std::uint64_t base, std::uint64_t gap_to, std::size_t index) {
  std::vector<std::uint64_t> gaps;
  const std::uint64_t offset = s.track.samples[index].offset;
  for (std::uint64_t gap = s.grid.unit; gap <= gap_to && base + gap + offset < s.limit;
       gap += s.grid.unit) {
    if (s.spent()) return std::optional<std::vector<std::uint64_t>>{};
    KESTREL_TRY_ASSIGN(parses, parses_at(s, index, base + gap + offset));
    if (!*parses) continue;
    if (gaps.size() == kMaxJoinsChecked) return std::optional<std::vector<std::uint64_t>>{};
    gaps.push_back(gap);
  }
  return std::optional<std::vector<std::uint64_t>>{std::move(gaps)};
}

// The one join of the break at sample `first` whose next piece lies a whole
// number of units, up to `gap_to`, past where the last piece would go on. A
// join after which the next piece holds no sample start has nothing to place
// that piece by, and is not tried.
std::expected<std::optional<NextJoin>, RecoveryError> next_join(const MovieSearch& s,
                                                                const PieceJoins& joins,
                                                                std::size_t first,
                                                                std::uint64_t gap_to) {
  const std::vector<JoinTry> tries = join_tries(s, first);
  const std::size_t count = s.track.samples.size();
  const std::uint64_t base = joins.empty() ? s.start : joins.back().offset - joins.back().at;
  // First, for each sample that can start the next piece, the gaps that put
  // a sample there.
  std::vector<std::pair<std::size_t, std::vector<std::uint64_t>>> fits;
  for (auto join_try = tries.rbegin(); join_try != tries.rend(); ++join_try) {
    const std::size_t inside = join_try->first_inside;
    if (inside >= count || (!fits.empty() && fits.back().first == inside)) continue;
    KESTREL_TRY_ASSIGN(gaps, gaps_where_parses(s, base, gap_to, inside));
    if (!*gaps) return std::optional<NextJoin>{};
    fits.emplace_back(inside, std::move(**gaps));
  }
  std::optional<NextJoin> taken;
  std::size_t checked = 0;
  for (const JoinTry& join_try : tries) {
    const std::size_t inside = join_try.first_inside;
    const auto fit = std::find_if(fits.begin(), fits.end(),
                                  [&](const auto& entry) { return entry.first == inside; });
    if (fit == fits.end()) continue;
    for (const std::uint64_t gap : fit->second) {
      if (++checked > kMaxJoinsChecked || s.spent()) return std::optional<NextJoin>{};
      const PieceJoin join{join_try.at, base + gap + join_try.at};
      PieceJoins joined_at = joins;
      joined_at.push_back(join);
      FileArea joined(s.reader, s.start, s.limit, s.grid, std::move(joined_at));
      // The two samples around the break down to their payload, and the
      // first two the next piece holds.
      const std::size_t from = first > 0 ? first - 1 : 0;
      const std::size_t to = std::min(count, std::max(first + 1, inside + kPieceSamples));
      KESTREL_TRY_ASSIGN(parses, video_samples_parse(joined, s.track, from, to, first + 1));
      if (!*parses) continue;
      if (taken) return std::optional<NextJoin>{};  // more than one join holds: none is sure
      taken = NextJoin{join, gap, to};
    }
  }
  return taken;
}

// Every sample parses under `joins`: they are the movie's when the samples
// spread over the track parse too.
std::expected<std::optional<PieceJoins>, RecoveryError> spread_joins(const MovieSearch& s,
                                                                     FileArea& joined,
                                                                     PieceJoins joins) {
  KESTREL_TRY_ASSIGN(spread, spread_samples_parse(joined, s.track));
  if (!*spread) return std::optional<PieceJoins>{};
  return std::optional<PieceJoins>{std::move(joins)};
}

}  // namespace

std::expected<std::optional<PieceJoins>, RecoveryError> find_video_joins(
    AreaReader& reader, std::uint64_t start, std::uint64_t limit, UnitGrid grid,
    const VideoTrack& track, MdatSpan mdat, std::optional<std::uint64_t> total_gap,
    std::uint64_t read_until) {
  if (grid.unit == 0 || track.samples.empty()) return std::optional<PieceJoins>{};
  const MovieSearch s{reader, start, limit, grid, track, mdat, read_until};
  PieceJoins joins;
  std::uint64_t gaps = 0;
  std::size_t from = 0;
  while (!s.spent() && joins.size() + 1 < kMaxCarvedPieces) {
    FileArea sofar = joins.empty() ? FileArea(reader, start, limit, grid)
                                   : FileArea(reader, start, limit, grid, joins);
    KESTREL_TRY_ASSIGN(first, first_unparsed_sample(sofar, track, from));
    const bool all_parse = *first >= track.samples.size();
    if (!total_gap) {
      if (all_parse) {
        if (joins.empty()) break;
        return spread_joins(s, sofar, std::move(joins));
      }
    } else {
      // The last piece is the moov's: it takes up the rest of the gap.
      KESTREL_TRY_ASSIGN(last, find_last_video_join(reader, start, limit, grid, track, mdat, joins,
                                                    *first, *total_gap - gaps));
      if (*last) {
        joins.push_back(**last);
        return std::optional<PieceJoins>{std::move(joins)};
      }
      // A piece between leaves room for the moov's after it.
      if (all_parse || *total_gap - gaps <= grid.unit || joins.size() + 2 >= kMaxCarvedPieces)
        break;
    }
    const std::uint64_t gap_to =
        std::min(kPieceGapBytes, total_gap ? *total_gap - gaps - grid.unit : kPieceGapBytes);
    KESTREL_TRY_ASSIGN(next, next_join(s, joins, *first, gap_to));
    if (!*next) break;
    joins.push_back((*next)->join);
    gaps += (*next)->gap;
    from = (*next)->parsed_to;
  }
  return std::optional<PieceJoins>{};
}

}  // namespace kestrel
