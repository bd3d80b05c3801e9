// Files in two pieces, laid out as a card writes around a file in the way:
// the first clusters of a real file, whole real files (or bytes of no file)
// after them, then the rest of the first file. The carving pass must join the pieces only when
// the joined structure checks, and must not take a second piece that is off
// by a cluster or belongs to no file.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "recovery-core/carving/free_space_carving.hpp"
#include "recovery-core/content/file_end/area_reader.hpp"
#include "recovery-core/content/file_end/jpeg_scan_check.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/memory_source.hpp"

namespace kestrel::testing {
namespace {

constexpr std::size_t kCluster = 4096;

std::vector<std::uint8_t> sample(const std::string& name) {
  return load_fixture("carving/samples/" + name);
}

// An area built cluster by cluster.
class Card {
 public:
  // Places `bytes` at the next cluster start; returns its offset.
  std::size_t put(const std::vector<std::uint8_t>& bytes, std::size_t from = 0,
                  std::size_t count = SIZE_MAX) {
    const std::size_t offset = (image_.size() + kCluster - 1) / kCluster * kCluster;
    image_.resize(offset, 0);
    const std::size_t end =
        std::min(bytes.size(), from > SIZE_MAX - count ? bytes.size() : from + count);
    image_.insert(image_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(from),
                  bytes.begin() + static_cast<std::ptrdiff_t>(end));
    return offset;
  }
  // Random bytes up to the next cluster start and one cluster more: no header at any sector.
  void noise() {
    std::mt19937 generator(77);
    const std::size_t end = (image_.size() + kCluster - 1) / kCluster * kCluster + kCluster;
    while (image_.size() < end) image_.push_back(static_cast<std::uint8_t>(generator() | 0x01));
  }

  // `clusters` clusters of random bytes at the next cluster start.
  void random(std::size_t clusters, unsigned seed) {
    std::mt19937 generator(seed);
    std::vector<std::uint8_t> bytes(clusters * kCluster);
    for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(generator());
    put(bytes);
  }

  std::vector<RecoveryCandidate> carve() {
    noise();
    MemorySource source(image_);
    std::vector<RecoveryCandidate> found;
    CandidateCollector sink(found);
    auto carved = carve_whole_area(source, 1, 0, image_.size(), 512, sink, [](std::string_view) {});
    if (!carved) throw std::runtime_error(carved.error().message());
    return found;
  }

 private:
  std::vector<std::uint8_t> image_;
};

const RecoveryCandidate* at(const std::vector<RecoveryCandidate>& found, std::uint64_t offset) {
  for (const RecoveryCandidate& c : found) {
    if (c.data_offset == offset) return &c;
  }
  return nullptr;
}

struct SplitCase {
  std::string file;
  std::size_t first_clusters;
  std::vector<std::string> gap;
};

void PrintTo(const SplitCase& c, std::ostream* out) { *out << c.file; }

class TwoPieceFile : public ::testing::TestWithParam<SplitCase> {};

TEST_P(TwoPieceFile, IsJoinedAroundTheWholeFilesBetweenItsPieces) {
  const std::vector<std::uint8_t> file = sample(GetParam().file);
  const std::size_t first = GetParam().first_clusters * kCluster;
  Card card;
  card.put(file, 0, first);
  std::vector<std::size_t> gap;
  for (const std::string& name : GetParam().gap) gap.push_back(card.put(sample(name)));
  const std::size_t second = card.put(file, first);
  const auto found = card.carve();

  const RecoveryCandidate* joined = at(found, 0);
  ASSERT_NE(joined, nullptr);
  EXPECT_EQ(joined->size, file.size());
  EXPECT_EQ(joined->pieces,
            (FilePieces{{joined->data_offset, first}, {second, file.size() - first}}));
  EXPECT_EQ(joined->confidence, Confidence::High);
  for (std::size_t offset : gap) EXPECT_NE(at(found, offset), nullptr) << "gap file at " << offset;
  // Nothing is carved from inside the second piece.
  for (const RecoveryCandidate& c : found)
    EXPECT_FALSE(c.data_offset > second && c.data_offset < second + file.size() - first);
}

TEST_P(TwoPieceFile, IsNotJoinedToASecondPieceOneClusterOff) {
  const std::vector<std::uint8_t> file = sample(GetParam().file);
  const std::size_t first = GetParam().first_clusters * kCluster;
  Card card;
  card.put(file, 0, first);
  for (const std::string& name : GetParam().gap) card.put(sample(name));
  card.put(file, first + kCluster);  // the cluster right after the first piece is lost
  const auto found = card.carve();

  const RecoveryCandidate* broken = at(found, 0);
  ASSERT_NE(broken, nullptr);
  EXPECT_TRUE(broken->pieces.empty());
  EXPECT_EQ(broken->confidence, Confidence::Low);
}

INSTANTIATE_TEST_SUITE_P(
    RealEncoders, TwoPieceFile,
    ::testing::Values(SplitCase{"photo-exif.jpg", 2, {"image.png"}},
                      SplitCase{"photo-exif.jpg", 1, {"document.pdf", "clip.3gp", "tone.wav"}},
                      SplitCase{"image.png", 4, {"photo-exif.jpg"}},
                      SplitCase{"document.docx", 1, {"image.bmp"}},
                      SplitCase{"movie.mp4", 2, {"photo-exif.jpg", "anim.gif"}}));

// A photo, a PNG or a ZIP package whose rest lies past bytes no end rule can step
// over: random bytes, zeros, or entropy-coded data of another photo cut from
// its middle.
enum class Gap { Random, Zeros, OtherPhotosMiddle };

struct AnyGapCase {
  std::string file;
  std::size_t first_clusters;
  Gap gap;
};

void PrintTo(const AnyGapCase& c, std::ostream* out) {
  *out << c.file << " gap " << static_cast<int>(c.gap);
}

class AnyGapFile : public ::testing::TestWithParam<AnyGapCase> {
 protected:
  static void put_gap(Card& card, Gap gap) {
    switch (gap) {
      case Gap::Random:
        card.random(3, 5);
        break;
      case Gap::Zeros:
        card.put(std::vector<std::uint8_t>(2 * kCluster, 0));
        break;
      case Gap::OtherPhotosMiddle:  // same tables and restart interval
        card.put(sample("restart.jpg"), 5 * kCluster, 2 * kCluster);
        break;
    }
  }
};

TEST_P(AnyGapFile, IsJoinedAcrossTheGap) {
  const std::vector<std::uint8_t> file = sample(GetParam().file);
  const std::size_t first = GetParam().first_clusters * kCluster;
  Card card;
  card.put(file, 0, first);
  put_gap(card, GetParam().gap);
  const std::size_t second = card.put(file, first);
  const auto found = card.carve();

  const RecoveryCandidate* joined = at(found, 0);
  ASSERT_NE(joined, nullptr);
  EXPECT_EQ(joined->pieces,
            (FilePieces{{joined->data_offset, first}, {second, joined->size - first}}));
  EXPECT_EQ(joined->size, file.size());
  EXPECT_EQ(joined->confidence, Confidence::High);
}

TEST_P(AnyGapFile, IsNotJoinedWhenItsRestIsGone) {
  const std::vector<std::uint8_t> file = sample(GetParam().file);
  const std::size_t first = GetParam().first_clusters * kCluster;
  Card card;
  card.put(file, 0, first);
  put_gap(card, GetParam().gap);
  card.put(file, first + kCluster);  // the first cluster of the rest is lost
  const auto found = card.carve();

  const RecoveryCandidate* broken = at(found, 0);
  ASSERT_NE(broken, nullptr);
  EXPECT_TRUE(broken->pieces.empty());
  EXPECT_NE(broken->confidence, Confidence::High);
}

INSTANTIATE_TEST_SUITE_P(RealEncoders, AnyGapFile,
                         ::testing::Values(AnyGapCase{"beach.jpg", 3, Gap::Random},
                                           AnyGapCase{"beach.jpg", 2, Gap::Zeros},
                                           AnyGapCase{"restart.jpg", 2, Gap::Random},
                                           AnyGapCase{"restart.jpg", 3, Gap::Zeros},
                                           AnyGapCase{"restart.jpg", 4, Gap::OtherPhotosMiddle},
                                           AnyGapCase{"restart.jpg", 2, Gap::OtherPhotosMiddle},
                                           // A CRC-32 over the join, found by combining.
                                           AnyGapCase{"image.png", 2, Gap::Random},
                                           AnyGapCase{"drawing.png", 5, Gap::Zeros},
                                           AnyGapCase{"image.png", 3, Gap::OtherPhotosMiddle},
                                           AnyGapCase{"document.docx", 1, Gap::Random},
                                           AnyGapCase{"report.docx", 1, Gap::Zeros},
                                           // The join cuts a member that ends well past it.
                                           AnyGapCase{"document.odt", 1, Gap::Random}));

// A progressive JPEG's data is not decoded, so nothing vouches for a join.
TEST(TwoPieceFile, ProgressiveJpegIsLeftAsItBrokeOff) {
  const std::vector<std::uint8_t> file = sample("progressive.jpg");
  Card card;
  card.put(file, 0, kCluster);
  card.put(sample("image.png"));
  card.put(file, kCluster);
  const auto found = card.carve();
  ASSERT_NE(at(found, 0), nullptr);
  EXPECT_TRUE(at(found, 0)->pieces.empty());
}

// The decoding check alone, on real JPEGs whole, cut short, or with one
// cluster of their data dropped.
TEST(JpegScanCheck, WholeSequentialDataDecodesToTheFramesLastBlock) {
  const auto check = [](std::vector<std::uint8_t> bytes) {
    MemorySource source(std::move(bytes));
    AreaReader reader(source);
    FileArea area(reader, 0, source.capacity());
    auto result = check_jpeg_scan(area);
    if (!result) throw std::runtime_error(result.error().message());
    return *result;
  };
  for (const char* name :
       {"photo-exif.jpg", "beach.jpg", "harbour.jpg", "forest.jpg", "restart.jpg"}) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> file = sample(name);
    EXPECT_EQ(check(file), JpegScanCheck::Whole);
    EXPECT_EQ(check(std::vector<std::uint8_t>(file.begin(), file.end() - 1000)),
              JpegScanCheck::Broken);
    std::vector<std::uint8_t> dropped(file.begin(), file.begin() + kCluster);
    dropped.insert(dropped.end(), file.begin() + 2 * kCluster, file.end());
    EXPECT_EQ(check(dropped), JpegScanCheck::Broken);
    // Fill bytes and a marker that stands alone between two segments: the
    // check follows the chain as the end rule does.
    std::vector<std::uint8_t> padded = file;
    const std::size_t after_first = 4 + (std::size_t{file[4]} << 8 | file[5]);
    padded.insert(padded.begin() + static_cast<std::ptrdiff_t>(after_first),
                  {0xFF, 0xFF, 0xFF, 0x01});
    EXPECT_EQ(check(padded), JpegScanCheck::Whole);
  }
  EXPECT_EQ(check(sample("progressive.jpg")), JpegScanCheck::Undecodable);
}

}  // namespace
}  // namespace kestrel::testing
