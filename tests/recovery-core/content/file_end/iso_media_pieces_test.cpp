// A real movie (ffmpeg, H.264 and AAC) cut into three pieces with its moov
// last, and the same movie made for streaming (moov first) cut into two and
// three: the joins its video samples locate one break at a time, and the end
// rule that breaks a moov-first movie off where its samples stop parsing.
#include "recovery-core/content/file_end/iso_media_pieces.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/content/file_end/iso_media_join.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/memory_source.hpp"

namespace kestrel::testing {
namespace {

constexpr std::size_t kUnit = 2048;
constexpr UnitGrid kGrid{0, static_cast<std::uint32_t>(kUnit)};
constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

struct Movie {
  std::vector<std::uint8_t> bytes;
  MdatSpan mdat;
  VideoTrack track;
};

Movie movie(const std::string& name) {
  Movie m{load_fixture("carving/samples/" + name), {}, {}};
  std::size_t moov = 0;
  std::size_t moov_size = 0;
  for (std::size_t at = 0; at + 8 <= m.bytes.size();) {
    const std::size_t size = load_be<std::uint32_t>(m.bytes, at);
    if (holds_text(m.bytes, at + 4, "mdat")) m.mdat = {at + 8, at + size};
    if (holds_text(m.bytes, at + 4, "moov")) moov = at, moov_size = size;
    if (size < 8) break;
    at += size;
  }
  const auto from = m.bytes.begin() + static_cast<std::ptrdiff_t>(moov);
  const std::optional<VideoTrack> track =
      read_video_track({from, from + static_cast<std::ptrdiff_t>(moov_size)}, m.mdat);
  if (!track) throw std::runtime_error("no track in " + name);
  m.track = *track;
  return m;
}

// The movie cut at the file positions `cuts`, each piece followed by `gap`
// units of foreign bytes (random, or zeros after the second), as a card lays
// them out; and the joins that put it back.
struct Cut {
  std::vector<std::uint8_t> image;
  PieceJoins joins;
  std::uint64_t total_gap = 0;
};

Cut cut(const std::vector<std::uint8_t>& file, const std::vector<std::size_t>& cuts,
        std::size_t gap_units, std::size_t lost = 0) {
  Cut c;
  std::mt19937 generator(static_cast<std::uint32_t>(cuts.front()));
  std::size_t from = 0;
  for (std::size_t i = 0; i < cuts.size(); ++i) {
    c.image.insert(c.image.end(), file.begin() + static_cast<std::ptrdiff_t>(from),
                   file.begin() + static_cast<std::ptrdiff_t>(cuts[i]));
    for (std::size_t b = 0; b < gap_units * kUnit; ++b)
      c.image.push_back(i == 1 ? 0 : static_cast<std::uint8_t>(generator()));
    from = cuts[i] + (i == 0 ? lost : 0);  // the next piece's first bytes lost
    c.joins.push_back({cuts[i], c.image.size()});
  }
  c.image.insert(c.image.end(), file.begin() + static_cast<std::ptrdiff_t>(from), file.end());
  c.image.resize(c.image.size() + kUnit, 0);
  c.total_gap = cuts.size() * gap_units * kUnit - lost;
  return c;
}

std::optional<PieceJoins> joins_of(const Movie& m, const Cut& c, bool moov_last) {
  MemorySource source(c.image);
  AreaReader reader(source);
  auto joins = find_video_joins(
      reader, 0, c.image.size(), kGrid, m.track, m.mdat,
      moov_last ? std::optional<std::uint64_t>{c.total_gap} : std::nullopt, kNoLimit);
  if (!joins) throw std::runtime_error(joins.error().message());
  return *joins;
}

// Whether a video sample starts in the unit before `at` and in the unit
// after it: the samples then tell the join to its unit.
bool told_apart(const VideoTrack& track, std::size_t at) {
  bool before = false;
  bool after = false;
  for (const VideoSample& s : track.samples) {
    before = before || (s.offset + kUnit >= at && s.offset < at);
    after = after || (s.offset >= at && s.offset < at + kUnit);
  }
  return before && after;
}

TEST(VideoPieces, AMovieWithItsMoovLastIsJoinedFromThreePieces) {
  const Movie m = movie("camera.mp4");
  // Both breaks with a sample starting within a unit on either side.
  const Cut three = cut(m.bytes, {3 * kUnit, 25 * kUnit}, 4);
  EXPECT_EQ(joins_of(m, three, true), three.joins);
  // The moov fixes the whole gap: one unit more or less and nothing holds.
  Cut off = three;
  off.total_gap += kUnit;
  EXPECT_FALSE(joins_of(m, off, true).has_value());
  // The second piece's first unit is lost: the samples after the first join
  // fall a unit off under every gap.
  EXPECT_FALSE(joins_of(m, cut(m.bytes, {3 * kUnit, 25 * kUnit}, 4, kUnit), true).has_value());
  // Both joins pinned by a sample that starts in the unit after them, until
  // that unit of the last piece holds foreign bytes.
  const auto pinned = [&](const Cut& c) {
    MemorySource source(c.image);
    AreaReader reader(source);
    auto result = video_joins_are_pinned(reader, 0, c.image.size(), kGrid, m.track, c.joins);
    if (!result) throw std::runtime_error(result.error().message());
    return *result;
  };
  EXPECT_TRUE(pinned(three));
  Cut foreign = three;
  std::fill_n(foreign.image.begin() + static_cast<std::ptrdiff_t>(three.joins.back().offset), kUnit,
              std::uint8_t{0x5A});
  EXPECT_FALSE(pinned(foreign));
  // A first break inside a sample's payload, with no sample start near enough
  // to tell its unit: several joins make the samples parse, and none is taken.
  EXPECT_FALSE(joins_of(m, cut(m.bytes, {11 * kUnit, 25 * kUnit}, 4), true).has_value());
}

TEST(VideoPieces, AMovieWithItsMoovFirstIsJoinedWhereItsSamplesParseAgain) {
  const Movie m = movie("streaming.mp4");
  ASSERT_LT(m.mdat.payload, m.mdat.end);
  int told = 0;
  for (std::size_t units = 2; (units + 3) * kUnit < m.mdat.end; ++units) {
    SCOPED_TRACE(units);
    const std::size_t at = units * kUnit;
    const Cut two = cut(m.bytes, {at}, 3);
    const std::optional<PieceJoins> joins = joins_of(m, two, false);
    // Never joined wrongly; joined wherever the samples tell the unit.
    if (joins) {
      EXPECT_EQ(*joins, two.joins);
    }
    if (told_apart(m.track, at)) {
      ++told;
      EXPECT_TRUE(joins.has_value());
    }
  }
  EXPECT_GT(told, 3);
  const Cut three = cut(m.bytes, {4 * kUnit, 20 * kUnit}, 3);
  ASSERT_TRUE(told_apart(m.track, 4 * kUnit) && told_apart(m.track, 20 * kUnit));
  EXPECT_EQ(joins_of(m, three, false), three.joins);
}

// A gap that holds a stale copy of the bytes right after the break, up to the
// end of the first sample the next piece starts: under the gap that copy
// gives, that sample parses too, but not the one after it.
TEST(VideoPieces, AJoinIsPlacedByTheNextPiecesFirstTwoSamples) {
  const Movie m = movie("streaming.mp4");
  std::size_t at = 8 * kUnit;
  while (!told_apart(m.track, at) && at < m.mdat.end / 2) at += kUnit;
  ASSERT_TRUE(told_apart(m.track, at));
  Cut c = cut(m.bytes, {at}, 4);
  const auto inside = std::find_if(m.track.samples.begin(), m.track.samples.end(),
                                   [&](const VideoSample& s) { return s.offset >= at; });
  ASSERT_NE(inside, m.track.samples.end());
  std::copy(m.bytes.begin() + static_cast<std::ptrdiff_t>(at),
            m.bytes.begin() + static_cast<std::ptrdiff_t>(inside->offset + inside->size),
            c.image.begin() + static_cast<std::ptrdiff_t>(at + kUnit));
  EXPECT_EQ(joins_of(m, c, false), c.joins);
}

// A unit of the last piece where a sample starts, overwritten, while the
// samples after it parse again: the samples must parse under the joins all
// over the track, not just where the halving looked. (A unit that holds only
// payload goes unseen: the check is of the samples' framing.)
TEST(VideoPieces, IsNotTakenWhenASampleInTheLastPieceDoesNotParse) {
  const Movie m = movie("streaming.mp4");
  const Cut two = cut(m.bytes, {4 * kUnit}, 3);
  ASSERT_EQ(joins_of(m, two, false), two.joins);
  std::mt19937 generator(7);
  int damaged_units = 0;
  for (std::size_t unit = 6; unit < 30; ++unit) {
    SCOPED_TRACE(unit);
    if (!std::any_of(m.track.samples.begin(), m.track.samples.end(), [&](const VideoSample& s) {
          return s.offset >= unit * kUnit && s.offset < (unit + 1) * kUnit;
        })) {
      continue;
    }
    ++damaged_units;
    Cut damaged = two;
    const std::size_t from = two.joins.back().offset + (unit - 4) * kUnit;
    for (std::size_t i = 0; i < kUnit; ++i)
      damaged.image[from + i] = static_cast<std::uint8_t>(generator());
    EXPECT_FALSE(joins_of(m, damaged, false).has_value());
  }
  EXPECT_GT(damaged_units, 4);
}

FileEnd end_of(const std::vector<std::uint8_t>& image, const PieceJoins& joins) {
  MemorySource source(image);
  AreaReader reader(source);
  FileArea area = joins.empty() ? FileArea(reader, 0, image.size(), kGrid)
                                : FileArea(reader, 0, image.size(), kGrid, joins);
  auto end = find_iso_media_end(area);
  if (!end || !*end) throw std::runtime_error("no end");
  return **end;
}

TEST(VideoPieces, AMovieWithItsMoovFirstBreaksOffWhereItsSamplesStopParsing) {
  const Movie m = movie("streaming.mp4");
  std::vector<std::uint8_t> whole = m.bytes;
  whole.resize(whole.size() + kUnit, 0);
  const FileEnd intact = end_of(whole, {});
  EXPECT_EQ(intact.finding, EndFinding::Checked);
  EXPECT_EQ(intact.length, m.bytes.size());

  // One sample whose unit type the check does not know (the one the halving
  // looks at first) is no break: the samples after it parse.
  std::vector<std::uint8_t> odd = whole;
  odd[m.track.samples[m.track.samples.size() / 2].offset + m.track.length_size] = 0x00;
  EXPECT_EQ(end_of(odd, {}).finding, EndFinding::Checked);

  const Cut two = cut(m.bytes, {12 * kUnit}, 3);
  const FileEnd broken = end_of(two.image, {});
  EXPECT_EQ(broken.finding, EndFinding::Broken);
  // At the first sample past the break, or the one cut by it (whose lengths may
  // still lie before it).
  std::vector<std::uint64_t> near;
  for (const VideoSample& s : m.track.samples) {
    if (s.offset + s.size > 12 * kUnit && near.size() < 2) near.push_back(s.offset);
  }
  EXPECT_NE(std::find(near.begin(), near.end(), broken.confirmed), near.end()) << broken.confirmed;
  // Joined, it checks to its end again.
  const FileEnd joined = end_of(two.image, two.joins);
  EXPECT_EQ(joined.finding, EndFinding::Checked);
  EXPECT_EQ(joined.length, m.bytes.size());
}

}  // namespace
}  // namespace kestrel::testing
