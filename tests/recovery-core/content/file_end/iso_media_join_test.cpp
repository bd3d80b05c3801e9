// The sample tables of real movies (ffmpeg, H.264 and AAC, moov last), the
// same tables made hostile, and the join their video samples locate.
#include "recovery-core/content/file_end/iso_media_join.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/file_end/area_reader.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/memory_source.hpp"

namespace kestrel::testing {
namespace {

constexpr std::size_t kUnit = 2048;

std::vector<std::uint8_t> sample(const std::string& name) {
  return load_fixture("carving/samples/" + name);
}

// A movie's top-level mdat and moov, from its first byte.
struct Layout {
  MdatSpan mdat;
  std::size_t moov = 0;
  std::size_t moov_size = 0;
};

Layout layout_of(const std::vector<std::uint8_t>& file) {
  Layout layout;
  for (std::size_t at = 0; at + 8 <= file.size();) {
    const std::size_t size = load_be<std::uint32_t>(file, at);
    if (holds_text(file, at + 4, "mdat")) layout.mdat = {at + 8, at + size};
    if (holds_text(file, at + 4, "moov")) layout = {layout.mdat, at, size};
    if (size < 8) break;
    at += size;
  }
  return layout;
}

std::vector<std::uint8_t> moov_of(const std::vector<std::uint8_t>& file) {
  const Layout layout = layout_of(file);
  const auto from = file.begin() + static_cast<std::ptrdiff_t>(layout.moov);
  return {from, from + static_cast<std::ptrdiff_t>(layout.moov_size)};
}

// The offset of the first box of `type` inside the moov (its size field).
std::size_t box_in(const std::vector<std::uint8_t>& moov, const std::string& type) {
  for (std::size_t at = 4; at + 4 <= moov.size(); ++at) {
    if (holds_text(moov, at, type)) return at - 4;
  }
  ADD_FAILURE() << "no " << type;
  return 0;
}

void store_be32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

TEST(VideoTrack, IsReadFromTheSampleTablesOfRealMovies) {
  for (const auto& [name, samples] : {std::pair{"camera.mp4", 30u}, std::pair{"movie.mp4", 10u}}) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> file = sample(name);
    const Layout layout = layout_of(file);
    const std::optional<VideoTrack> track = read_video_track(moov_of(file), layout.mdat);
    ASSERT_TRUE(track.has_value());
    EXPECT_EQ(track->codec, NalCodec::Avc);
    EXPECT_EQ(track->length_size, 4);
    ASSERT_EQ(track->samples.size(), samples);
    // The encoder's own samples parse, down to their payload.
    MemorySource source(file);
    AreaReader reader(source);
    FileArea area(reader, 0, file.size());
    for (const VideoSample& s : track->samples) {
      auto parses = video_sample_parses(area, *track, s, true);
      ASSERT_TRUE(parses.has_value());
      EXPECT_TRUE(*parses) << "sample at " << s.offset;
    }
    // The same bytes one off do not.
    VideoSample off = track->samples[1];
    ++off.offset;
    --off.size;
    EXPECT_FALSE(*video_sample_parses(area, *track, off, false));
  }
  // A movie of Motion JPEG frames holds no NAL units to check a join by.
  const std::vector<std::uint8_t> mjpeg = sample("movie.mov");
  EXPECT_FALSE(read_video_track(moov_of(mjpeg), layout_of(mjpeg).mdat).has_value());
}

TEST(VideoTrack, HostileTablesAreRefused) {
  const std::vector<std::uint8_t> file = sample("camera.mp4");
  const Layout layout = layout_of(file);
  const std::vector<std::uint8_t> moov = moov_of(file);
  ASSERT_TRUE(read_video_track(moov, layout.mdat).has_value());
  struct Edit {
    const char* what;
    const char* box;
    std::size_t field;  // from the box's size field
    std::uint32_t value;
  };
  for (const Edit& edit : {
           Edit{"stsz counts more samples than it holds", "stsz", 16, 0x40000000},
           Edit{"stco counts more chunks than it holds", "stco", 12, 0x7FFFFFFF},
           Edit{"a chunk past the mdat", "stco", 16, 0x7FFFFF00},
           Edit{"a chunk before the mdat", "stco", 16, 8},
           Edit{"stsc puts every sample in the first chunk and more", "stsc", 20, 0xFFFFFFFF},
           Edit{"stsc's first run does not start at chunk 1", "stsc", 16, 2},
           Edit{"a sample larger than the mdat", "stsz", 20, 0x00F00000},
           Edit{"a trak larger than the moov", "trak", 0, 0x00100000},
           Edit{"avcC with a length size of 3", "avcC", 12, 0xFE000000},
       }) {
    SCOPED_TRACE(edit.what);
    std::vector<std::uint8_t> hostile = moov;
    std::size_t at = box_in(hostile, edit.box) + edit.field;
    if (std::string(edit.box) == "avcC") {
      // Only the low bits of the length size byte.
      hostile[at] = static_cast<std::uint8_t>((hostile[at] & 0xFC) | 0x02);
    } else {
      store_be32(hostile, at, edit.value);
    }
    EXPECT_FALSE(read_video_track(hostile, layout.mdat).has_value());
  }
}

TEST(VideoTrack, AMoovClaimingGigabytesIsNotRead) {
  std::vector<std::uint8_t> bytes(1u << 20, 0);
  store_be32(bytes, 0, 0xFFFFFFF0);
  bytes[4] = 'm';
  bytes[5] = 'o';
  bytes[6] = 'o';
  bytes[7] = 'v';
  MemorySource source(bytes);
  AreaReader reader(source);
  auto track = read_moov_video_track(reader, 0, bytes.size(), MdatSpan{0, 1});
  ASSERT_TRUE(track.has_value());
  EXPECT_FALSE(track->has_value());
  EXPECT_FALSE(*find_moov_box(reader, 0, bytes.size(), 2048));
}

// A movie's first `first` units, `gap` units of random bytes, then its rest
// (from `rest_from`), as a card lays them out.
struct SplitMovie {
  std::vector<std::uint8_t> image;
  std::uint64_t gap = 0;
};

SplitMovie split(const std::vector<std::uint8_t>& file, std::size_t first, std::size_t gap,
                 std::size_t rest_from) {
  SplitMovie movie;
  movie.image.assign(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(first));
  std::mt19937 generator(91);
  for (std::size_t i = 0; i < gap; ++i)
    movie.image.push_back(static_cast<std::uint8_t>(generator()));
  movie.image.insert(movie.image.end(), file.begin() + static_cast<std::ptrdiff_t>(rest_from),
                     file.end());
  movie.image.resize(movie.image.size() + kUnit, 0);
  movie.gap = gap + first - rest_from;
  return movie;
}

std::optional<std::uint64_t> join_of(const std::vector<std::uint8_t>& file,
                                     const SplitMovie& movie) {
  const Layout layout = layout_of(file);
  MemorySource source(movie.image);
  AreaReader reader(source);
  const std::optional<VideoTrack> track = read_video_track(moov_of(file), layout.mdat);
  if (!track) throw std::runtime_error("no track");
  auto join =
      find_video_join(reader, 0, movie.image.size(), UnitGrid{0, static_cast<std::uint32_t>(kUnit)},
                      *track, layout.mdat, movie.gap);
  if (!join) throw std::runtime_error(join.error().message());
  return *join;
}

TEST(VideoJoin, IsWhereTheSamplesParseOnlyUnderOneJoin) {
  const std::vector<std::uint8_t> file = sample("camera.mp4");
  // Breaks with a video sample starting within a unit on either side: located to their unit.
  for (const std::size_t units : {3u, 25u}) {
    SCOPED_TRACE(units);
    const std::size_t first = units * kUnit;
    EXPECT_EQ(join_of(file, split(file, first, 5 * kUnit, first)), first);
  }
  // Breaks inside a sample's payload with no sample start near enough to tell the unit: several
  // joins make the samples parse, and none is taken.
  for (const std::size_t units : {6u, 11u, 17u}) {
    SCOPED_TRACE(units);
    const std::size_t first = units * kUnit;
    EXPECT_FALSE(join_of(file, split(file, first, 5 * kUnit, first)).has_value());
  }
}

TEST(VideoJoin, IsNotTakenWhenTheSamplesPastItDoNotParse) {
  const std::vector<std::uint8_t> file = sample("camera.mp4");
  for (const std::size_t units : {3u, 6u, 11u, 17u, 25u}) {
    SCOPED_TRACE(units);
    const std::size_t first = units * kUnit;
    // The rest's first unit is lost: the moov still fixes a gap, but the
    // samples after any join fall one unit off.
    EXPECT_FALSE(join_of(file, split(file, first, 5 * kUnit, first + kUnit)).has_value());
  }
}

bool pinned(const std::vector<std::uint8_t>& file, const SplitMovie& movie, std::uint64_t at) {
  MemorySource source(movie.image);
  AreaReader reader(source);
  const std::optional<VideoTrack> track = read_video_track(moov_of(file), layout_of(file).mdat);
  if (!track) throw std::runtime_error("no track");
  auto result =
      video_join_is_pinned(reader, 0, movie.image.size(),
                           UnitGrid{0, static_cast<std::uint32_t>(kUnit)}, *track, at, movie.gap);
  if (!result) throw std::runtime_error(result.error().message());
  return *result;
}

// A join is pinned only by a sample or NAL unit that starts in the unit after
// it and parses there: over every break of the sample movies where a join is
// taken, most joins are pinned, and none is once that unit of the second
// piece holds foreign bytes (a lost unit the samples around it would not show).
TEST(VideoJoin, IsPinnedOnlyWhereASampleBoundaryFollowsIt) {
  int taken = 0;
  int intact_pinned = 0;
  for (const char* name : {"camera.mp4", "movie.mp4"}) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> file = sample(name);
    const std::uint64_t mdat_end = layout_of(file).mdat.end;
    for (std::size_t units = 1; (units + 2) * kUnit < mdat_end; ++units) {
      SCOPED_TRACE(units);
      const std::size_t first = units * kUnit;
      SplitMovie movie = split(file, first, 5 * kUnit, first);
      const auto join = join_of(file, movie);
      if (!join) continue;
      ++taken;
      intact_pinned += pinned(file, movie, *join) ? 1 : 0;
      std::mt19937 generator(static_cast<std::uint32_t>(units));
      const std::size_t foreign = *join + movie.gap;
      for (std::size_t i = 0; i < kUnit; ++i)
        movie.image[foreign + i] = static_cast<std::uint8_t>(generator());
      EXPECT_FALSE(pinned(file, movie, *join));
    }
  }
  EXPECT_GT(taken, 0);
  EXPECT_GT(intact_pinned, taken / 2);
}

}  // namespace
}  // namespace kestrel::testing
