// The checks of a join inside a real DOCX (pandoc's) laid out in two pieces
// around random bytes: the member a join cuts must read to its CRC-32, and a
// join placed at a member's header must not let the member before it end
// inside the gap unnoticed.
#include "recovery-core/content/file_end/zip_join.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "recovery-core/content/file_end/area_reader.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/memory_source.hpp"

namespace kestrel::testing {
namespace {

constexpr std::uint64_t kGap = 2048;
// In report.docx, word/styles.xml starts at 2057 and word/footnotes.xml at
// 4298; the first piece ends inside styles.xml.
constexpr std::uint64_t kJoin = 4096;
constexpr std::uint64_t kNextHeader = 4298;

struct TwoPieceDocx {
  std::vector<std::uint8_t> file = load_fixture("carving/samples/report.docx");
  MemorySource source{laid_out(file)};
  AreaReader reader{source};

  static std::vector<std::uint8_t> laid_out(const std::vector<std::uint8_t>& file) {
    std::vector<std::uint8_t> bytes(file.begin(), file.begin() + kJoin);
    std::mt19937 random(23);
    for (std::uint64_t i = 0; i < kGap; ++i) bytes.push_back(static_cast<std::uint8_t>(random()));
    bytes.insert(bytes.end(), file.begin() + kJoin, file.end());
    bytes.resize((bytes.size() + 511) / 512 * 512);
    return bytes;
  }
  FileArea joined_at(std::uint64_t at, std::uint64_t gap) {
    return FileArea(reader, 0, source.bytes().size(), UnitGrid{0, 512}, PieceJoins{{at, at + gap}});
  }
};

TEST(ZipJoin, HoldsOnlyWhereTheCutMemberReadsToItsCrc) {
  TwoPieceDocx docx;
  auto tails = find_zip_tails(docx.reader, kJoin, docx.source.bytes().size(), 1);
  ASSERT_TRUE(tails.has_value());
  ASSERT_EQ(tails->size(), 1u);
  const ZipTail& tail = tails->front();
  EXPECT_EQ(tail.position - tail.record_offset(), kGap);
  auto members = ZipMembers::read(docx.reader, tail);
  ASSERT_TRUE(members.has_value() && members->has_value());
  EXPECT_EQ((*members)->first_header_from(kJoin), kNextHeader);

  struct Case {
    std::uint64_t at;
    std::uint64_t gap;
    bool holds;
  };
  for (const Case& c :
       {Case{kJoin, kGap, true}, Case{kJoin - 512, kGap, false}, Case{kJoin, kGap - 512, false},
        // At the next member's header: styles.xml's last bytes would come
        // from the gap, which its CRC-32 shows.
        Case{kNextHeader, kGap, false}}) {
    SCOPED_TRACE(c.at);
    FileArea joined = docx.joined_at(c.at, c.gap);
    auto by_members = (*members)->join_holds(joined, c.at);
    ASSERT_TRUE(by_members.has_value());
    EXPECT_EQ(*by_members, c.holds);
  }
}

TEST(ZipJoin, ALocalHeaderMatchesOnlyTheMemberTheDirectoryPutsThere) {
  TwoPieceDocx docx;
  auto tails = find_zip_tails(docx.reader, kJoin, docx.source.bytes().size(), 1);
  ASSERT_TRUE(tails.has_value() && !tails->empty());
  auto members = ZipMembers::read(docx.reader, tails->front());
  ASSERT_TRUE(members.has_value() && members->has_value());
  const auto header_at = [&](std::uint64_t at) {
    return std::span<const std::uint8_t>(docx.file).subspan(at, 30);
  };
  EXPECT_TRUE((*members)->header_matches(kNextHeader, header_at(kNextHeader)));
  // Another member's header, and the right one with its CRC-32 changed.
  EXPECT_FALSE((*members)->header_matches(kNextHeader, header_at(2057)));
  std::vector<std::uint8_t> changed(header_at(kNextHeader).begin(), header_at(kNextHeader).end());
  changed[14] ^= 1;
  EXPECT_FALSE((*members)->header_matches(kNextHeader, changed));
}

}  // namespace
}  // namespace kestrel::testing
