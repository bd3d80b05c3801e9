// The end rules of carving on real files made by real encoders and packers
// (scripts/fixtures/make-carving-samples.sh), whole, cut short and partly
// overwritten, and on crafted structures that claim absurd sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/content/file_end/area_reader.hpp"
#include "recovery-core/content/file_end/file_area.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/memory_source.hpp"

namespace kestrel {

void PrintTo(const FileEnd& end, std::ostream* out) {
  static constexpr const char* kFindings[] = {"checked", "unchecked", "broken", "unended"};
  *out << "{length=" << end.length << " confirmed=" << end.confirmed
       << " finding=" << kFindings[static_cast<int>(end.finding)] << " extension=" << end.extension
       << "}";
}

}  // namespace kestrel

namespace kestrel::testing {
namespace {

constexpr std::uint32_t kUnit = 512;

std::vector<std::uint8_t> sample(const std::string& name) {
  return load_fixture("carving/samples/" + name);
}

// Bytes that hold no header at any unit start, as free space between files does.
std::vector<std::uint8_t> filler(std::size_t size) {
  std::mt19937 generator(20260314);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
  return bytes;
}

struct Outcome {
  std::optional<FileEnd> end;
  std::uint64_t bytes_read = 0;
};

// Runs the rule of the header at byte 0 over the whole image, with units of 512 bytes.
Outcome measure(std::vector<std::uint8_t> image) {
  const auto family = probe_file_header(image);
  if (!family) return {};
  MemorySource source(std::move(image));
  AreaReader reader(source);
  FileArea area(reader, 0, source.capacity(), UnitGrid{0, kUnit});
  auto found = find_file_end(*family, area);
  if (!found) throw std::runtime_error(found.error().message());
  return {*found, source.bytes_read()};
}

std::vector<std::uint8_t> followed_by_filler(std::vector<std::uint8_t> file) {
  const auto tail = filler(3 * kUnit + 100);
  file.insert(file.end(), tail.begin(), tail.end());
  return file;
}

struct SampleCase {
  std::string file;
  std::string extension;
};

void PrintTo(const SampleCase& c, std::ostream* out) { *out << c.file; }

class FileEndOfSample : public ::testing::TestWithParam<SampleCase> {};

TEST_P(FileEndOfSample, WholeFileEndsWhereTheEncoderEndedIt) {
  const std::vector<std::uint8_t> file = sample(GetParam().file);
  const Outcome outcome = measure(followed_by_filler(file));
  ASSERT_TRUE(outcome.end);
  EXPECT_EQ(outcome.end->finding, EndFinding::Checked) << ::testing::PrintToString(*outcome.end);
  EXPECT_EQ(outcome.end->length, file.size());
  EXPECT_EQ(outcome.end->extension, GetParam().extension);
  // An encoder's whole file shows no sign of another's data inside.
  EXPECT_FALSE(outcome.end->doubtful_from) << *outcome.end->doubtful_from;
}

TEST_P(FileEndOfSample, CutShortIsNeverCheckedNorLonger) {
  std::vector<std::uint8_t> file = sample(GetParam().file);
  for (const std::size_t cut : {file.size() * 3 / 5, file.size() - 2}) {
    const Outcome outcome = measure(std::vector<std::uint8_t>(file.begin(), file.begin() + cut));
    if (!outcome.end) continue;
    EXPECT_NE(outcome.end->finding, EndFinding::Checked)
        << cut << ::testing::PrintToString(*outcome.end);
    EXPECT_LE(outcome.end->length, cut);
  }
}

// Where a JPEG's restart markers start, past its first SOS.
std::vector<std::size_t> restart_markers(const std::vector<std::uint8_t>& jpeg) {
  std::vector<std::size_t> at;
  std::size_t i = 2;
  while (i + 1 < jpeg.size() && !(jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA)) ++i;
  for (; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] >= 0xD0 && jpeg[i + 1] <= 0xD7) at.push_back(i);
  }
  return at;
}

// Markers in turn that still do not number what the frame and its restart
// interval say: the data of another image runs on inside. The end rule ends
// the file at its EOI but doubts it there, for the decoding to decide.
TEST(FileEndOfJpeg, RestartMarkersThatDoNotNumberTheFramesAreDoubted) {
  const std::vector<std::uint8_t> restarts = sample("restart.jpg");
  const std::vector<std::size_t> markers = restart_markers(restarts);
  ASSERT_GT(markers.size(), 4u);
  // Too few: the data after the third marker's interval is gone, EOI follows.
  std::vector<std::uint8_t> fewer(restarts.begin(),
                                  restarts.begin() + static_cast<std::ptrdiff_t>(markers[3]));
  fewer.insert(fewer.end(), {0xFF, 0xD9});
  const Outcome short_of = measure(followed_by_filler(fewer));
  ASSERT_TRUE(short_of.end);
  EXPECT_EQ(short_of.end->finding, EndFinding::Checked);
  EXPECT_EQ(short_of.end->length, fewer.size());
  EXPECT_EQ(short_of.end->doubtful_from, markers[2]);
  // One more, in turn, right before EOI (some encoders close the last
  // interval with one): no sign.
  std::vector<std::uint8_t> closed = restarts;
  const std::size_t eoi = closed.size() - 2;
  closed.insert(closed.begin() + static_cast<std::ptrdiff_t>(eoi),
                {0xFF, static_cast<std::uint8_t>(0xD0 + (markers.size() & 7u))});
  const Outcome closed_end = measure(followed_by_filler(closed));
  ASSERT_TRUE(closed_end.end);
  EXPECT_EQ(closed_end.end->finding, EndFinding::Checked);
  EXPECT_FALSE(closed_end.end->doubtful_from);
  // One where none is due: a photo without a restart interval, with RST0 in
  // the middle of its data.
  std::vector<std::uint8_t> plain = sample("beach.jpg");
  ASSERT_TRUE(restart_markers(plain).empty());
  std::size_t inside = plain.size() / 2;
  while (plain[inside - 1] == 0xFF || plain[inside] == 0xFF) ++inside;
  plain.insert(plain.begin() + static_cast<std::ptrdiff_t>(inside), {0xFF, 0xD0});
  const Outcome unexpected = measure(followed_by_filler(plain));
  ASSERT_TRUE(unexpected.end);
  EXPECT_EQ(unexpected.end->finding, EndFinding::Checked);
  EXPECT_EQ(unexpected.end->doubtful_from, inside);
}

// Formats whose checks cover every byte notice the next file written over their middle.
class FileEndOfOverwrittenSample : public ::testing::TestWithParam<std::string> {};

TEST_P(FileEndOfOverwrittenSample, BreaksOffBeforeTheNextFile) {
  std::vector<std::uint8_t> file = sample(GetParam());
  const std::vector<std::uint8_t> other =
      sample(GetParam() == "image.png" ? "anim.gif" : "image.png");
  const std::size_t at = file.size() / 2 / kUnit * kUnit;
  ASSERT_GT(at, 0u);
  file.resize(std::max(file.size(), at + other.size()));
  std::copy(other.begin(), other.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
  const Outcome outcome = measure(followed_by_filler(file));
  ASSERT_TRUE(outcome.end);
  EXPECT_NE(outcome.end->finding, EndFinding::Checked) << ::testing::PrintToString(*outcome.end);
  EXPECT_LE(outcome.end->confirmed, at);
}

INSTANTIATE_TEST_SUITE_P(
    RealEncoders, FileEndOfSample,
    ::testing::Values(SampleCase{"photo-exif.jpg", "jpg"}, SampleCase{"progressive.jpg", "jpg"},
                      SampleCase{"image.png", "png"}, SampleCase{"anim.gif", "gif"},
                      SampleCase{"image.bmp", "bmp"}, SampleCase{"image.tif", "tif"},
                      SampleCase{"camera.nef", "nef"}, SampleCase{"camera.dng", "dng"},
                      SampleCase{"document.pdf", "pdf"}, SampleCase{"document.docx", "docx"},
                      SampleCase{"document.odt", "odt"}, SampleCase{"book.epub", "epub"},
                      SampleCase{"archive.zip", "zip"}, SampleCase{"streamed.zip", "zip"},
                      SampleCase{"streamed.jar", "zip"}, SampleCase{"streamed64.zip", "zip"},
                      SampleCase{"zeros.jar", "zip"}, SampleCase{"movie.mp4", "mp4"},
                      SampleCase{"movie.mov", "mov"}, SampleCase{"audio.m4a", "m4a"},
                      SampleCase{"clip.3gp", "3gp"}, SampleCase{"clip.avi", "avi"},
                      SampleCase{"tone.wav", "wav"}, SampleCase{"image.webp", "webp"},
                      SampleCase{"image.heic", "heic"}, SampleCase{"image.avif", "avif"}));

INSTANTIATE_TEST_SUITE_P(RealEncoders, FileEndOfOverwrittenSample,
                         ::testing::Values("photo-exif.jpg", "progressive.jpg", "image.png",
                                           "document.pdf"));

// Crafted structures that claim sizes, counts or links no real file has: each
// rule ends or rejects them after reading little, whatever the claim.
std::vector<std::uint8_t> from_text(const std::string& text) { return {text.begin(), text.end()}; }

void append_be32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::vector<std::uint8_t> png_claiming_4_gib() {
  std::vector<std::uint8_t> png = sample("image.png");
  png.resize(33);  // signature and IHDR
  append_be32(png, 0xFFFFFFF0);
  png.insert(png.end(), {'I', 'D', 'A', 'T'});
  return png;
}

std::vector<std::uint8_t> box_of_size_2_to_64() {
  std::vector<std::uint8_t> mp4 = sample("movie.mp4");
  const std::uint32_t ftyp = (std::uint32_t{mp4[2]} << 8) | mp4[3];
  mp4.resize(ftyp);
  append_be32(mp4, 1);
  mp4.insert(mp4.end(), {'m', 'd', 'a', 't', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  return mp4;
}

// A million stored entries of no bytes, then an end record that claims them.
std::vector<std::uint8_t> zip_with_a_million_entries() {
  std::vector<std::uint8_t> zip;
  std::vector<std::uint8_t> local(31, 0);
  local[0] = 'P', local[1] = 'K', local[2] = 3, local[3] = 4, local[4] = 10;
  local[26] = 1;  // a name of one byte, no extra field, no data
  local[30] = 'a';
  for (int i = 0; i < 1'000'000; ++i) zip.insert(zip.end(), local.begin(), local.end());
  std::vector<std::uint8_t> end(22, 0);
  end[0] = 'P', end[1] = 'K', end[2] = 5, end[3] = 6;
  std::fill(end.begin() + 8, end.begin() + 12, 0xFF);  // a million entries do not fit 16 bits
  std::fill(end.begin() + 16, end.begin() + 20, 0xFF);
  zip.insert(zip.end(), end.begin(), end.end());
  return zip;
}

// A TIFF whose first directory names itself as the next one and as its Exif directory.
std::vector<std::uint8_t> tiff_directory_loop() {
  std::basic_string<std::uint8_t> tiff = {'I', 'I', '*', 0, 8, 0, 0, 0, 2, 0};
  const std::uint8_t exif[] = {0x69, 0x87, 4, 0, 1, 0, 0, 0, 8, 0, 0, 0};
  const std::uint8_t width[] = {0x00, 0x01, 3, 0, 1, 0, 0, 0, 16, 0, 0, 0};
  tiff.append(width, sizeof width);
  tiff.append(exif, sizeof exif);
  append_u32_le(tiff, 8);
  return {tiff.begin(), tiff.end()};
}

TEST(FileEndOfCraftedStructure, EndsOrRejectsAfterReadingLittle) {
  struct Case {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::uint64_t most_bytes_read;
  };
  const std::vector<Case> cases = {
      {"PNG chunk of 4 GiB", followed_by_filler(png_claiming_4_gib()), 64 * 1024},
      {"box of 2^64 - 1 bytes", followed_by_filler(box_of_size_2_to_64()), 64 * 1024},
      {"TIFF directory loop", followed_by_filler(tiff_directory_loop()), 64 * 1024},
      {"JPEG segment past the area",
       from_text("\xFF\xD8\xFF\xE1\xFF\xFF"
                 "Exif"),
       64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = measure(c.bytes);
    if (outcome.end) {
      EXPECT_NE(outcome.end->finding, EndFinding::Checked);
      EXPECT_LE(outcome.end->confirmed, c.bytes.size());
    }
    EXPECT_LE(outcome.bytes_read, std::min<std::uint64_t>(c.most_bytes_read, c.bytes.size()));
  }
}

TEST(FileEndOfCraftedStructure, ZipOfAMillionEntriesIsWalkedOnceAndNotTrusted) {
  const std::vector<std::uint8_t> zip = zip_with_a_million_entries();
  const Outcome outcome = measure(zip);
  ASSERT_TRUE(outcome.end);
  EXPECT_NE(outcome.end->finding, EndFinding::Checked);
  EXPECT_LE(outcome.bytes_read, zip.size());
}

}  // namespace
// A file in pieces reads as one run of bytes: views inside a piece, across one
// join and across several short pieces at once give the file's bytes in order,
// and the last piece ends at the limit.
TEST(FileAreaInPieces, ReadsThePiecesInFileOrder) {
  const std::vector<std::uint8_t> file = filler(6 * kUnit + 77);
  // The pieces' places, in file order: units 0-1 at 0, unit 2 at 9, units 3-4 at 5, the rest at 13.
  std::vector<std::uint8_t> image(20 * kUnit, 0xEE);
  const auto place = [&](std::size_t from_unit, std::size_t units, std::size_t at_unit) {
    const auto begin = file.begin() + static_cast<std::ptrdiff_t>(from_unit * kUnit);
    const auto end =
        from_unit + units >= 6 ? file.end() : begin + static_cast<std::ptrdiff_t>(units * kUnit);
    std::copy(begin, end, image.begin() + static_cast<std::ptrdiff_t>(at_unit * kUnit));
  };
  place(0, 2, 0);
  place(2, 1, 9);
  place(3, 2, 5);
  place(5, 2, 13);
  MemorySource source(std::move(image));
  AreaReader reader(source);
  const PieceJoins joins = {
      {2 * kUnit, 9 * kUnit}, {3 * kUnit, 5 * kUnit}, {5 * kUnit, 13 * kUnit}};
  FileArea area(reader, 0, 13 * kUnit + (file.size() - 5 * kUnit), UnitGrid{0, kUnit}, joins);
  ASSERT_EQ(area.size(), file.size());
  struct View {
    std::uint64_t position;
    std::size_t length;
  };
  for (const View view : {View{10, 100}, View{2 * kUnit - 5, 10}, View{kUnit, 4 * kUnit + 9},
                          View{0, file.size()}, View{file.size() - 50, 200}}) {
    SCOPED_TRACE(std::to_string(view.position) + "+" + std::to_string(view.length));
    auto bytes = area.bytes(view.position, view.length);
    ASSERT_TRUE(bytes) << bytes.error().message();
    const std::size_t expected = std::min<std::size_t>(view.length, file.size() - view.position);
    ASSERT_EQ(bytes->size(), expected);
    EXPECT_TRUE(std::equal(bytes->begin(), bytes->end(),
                           file.begin() + static_cast<std::ptrdiff_t>(view.position)));
  }
}

}  // namespace kestrel::testing
