// Packages whose members carry their sizes in data descriptors after the data
// (the JDK's jar; Python's zipfile on a stream without seek, with ZIP64
// descriptors), laid out in two pieces around random bytes or zeros: the end
// rule breaks off just past the join, where the cut member's data stops
// inflating; the join check reads the cut member to its CRC-32 and asks its
// descriptor to name the directory's sizes; a descriptor that disagrees with
// its data breaks the package there.
#include "recovery-core/content/file_end/zip_descriptor.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "recovery-core/content/file_end/area_reader.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/content/file_end/zip_deflate_end.hpp"
#include "recovery-core/content/file_end/zip_join.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/memory_source.hpp"

namespace kestrel::testing {
namespace {

constexpr std::uint32_t kUnit = 512;
constexpr std::uint64_t kGap = 3 * kUnit;
// How far past the join a break may be reported and the join still be
// found: the continuation search tries the 64 unit starts before it.
constexpr std::uint64_t kJoinReach = 64 * kUnit;

// Where the photo member's deflated data and its descriptor lie.
struct Package {
  const char* name;
  std::uint64_t photo_data;
  std::uint64_t photo_descriptor;
  std::uint64_t descriptor_length;
};
constexpr Package kJar{"carving/samples/streamed.jar", 327, 15975, 16};
constexpr Package kZip64{"carving/samples/streamed64.zip", 192, 15840, 24};

std::vector<std::uint8_t> padded(std::vector<std::uint8_t> bytes) {
  bytes.resize((bytes.size() + kUnit - 1) / kUnit * kUnit);
  return bytes;
}

// The package with `gap` bytes (random or zero) put in at `join`.
std::vector<std::uint8_t> in_two_pieces(const std::vector<std::uint8_t>& file, std::uint64_t join,
                                        bool zeros) {
  std::vector<std::uint8_t> bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(join));
  std::mt19937 random(31);
  for (std::uint64_t i = 0; i < kGap; ++i)
    bytes.push_back(zeros ? 0 : static_cast<std::uint8_t>(random()));
  bytes.insert(bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(join), file.end());
  // What the card holds after the package: more random bytes.
  bytes = padded(std::move(bytes));
  for (std::uint64_t i = 0; i < 64 * kUnit; ++i)
    bytes.push_back(static_cast<std::uint8_t>(random()));
  return bytes;
}

std::optional<FileEnd> end_of(AreaReader& reader, std::uint64_t size,
                              std::optional<PieceJoins> joins = {}) {
  FileArea area = joins ? FileArea(reader, 0, size, UnitGrid{0, kUnit}, *joins)
                        : FileArea(reader, 0, size, UnitGrid{0, kUnit});
  auto end = find_file_end(FileFamily::Zip, area);
  EXPECT_TRUE(end.has_value());
  return end ? *end : std::nullopt;
}

TEST(ZipDescriptorPackage, BreaksJustPastTheJoinAndJoinsWhereTheCutMemberHolds) {
  struct Case {
    Package package;
    std::uint64_t join;
    bool zeros;
  };
  for (const Case& c :
       {Case{kJar, 4096, false}, Case{kJar, 4096, true}, Case{kJar, 15872, false},
        Case{kZip64, 8192, false}, Case{kZip64, 8192, true}, Case{kZip64, 1024, false}}) {
    SCOPED_TRACE(std::string(c.package.name) + " " + std::to_string(c.join) +
                 (c.zeros ? " zeros" : " random"));
    const std::vector<std::uint8_t> file = load_fixture(c.package.name);
    MemorySource source{in_two_pieces(file, c.join, c.zeros)};
    AreaReader reader{source};
    const std::uint64_t size = source.bytes().size();

    // Read as it lies, the package broke off at or just past the join (at
    // the unit of zeros itself), never unended or checked.
    const std::optional<FileEnd> contiguous = end_of(reader, size);
    ASSERT_TRUE(contiguous);
    EXPECT_EQ(contiguous->finding, EndFinding::Broken);
    EXPECT_GE(contiguous->confirmed, c.join);
    EXPECT_LT(contiguous->confirmed, c.join + kJoinReach);
    if (c.zeros) {
      EXPECT_EQ(contiguous->confirmed, c.join);
    }

    // Joined where it was cut, it checks to its end record.
    const std::optional<FileEnd> joined = end_of(reader, size, PieceJoins{{c.join, c.join + kGap}});
    ASSERT_TRUE(joined);
    EXPECT_EQ(joined->finding, EndFinding::Checked);
    EXPECT_EQ(joined->length, file.size());

    // The directory's CRC-32 and sizes tell the join from its neighbours.
    auto tails = find_zip_tails(reader, c.join, size, 1);
    ASSERT_TRUE(tails.has_value() && tails->size() == 1);
    EXPECT_EQ(tails->front().position - tails->front().record_offset(), kGap);
    auto members = ZipMembers::read(reader, tails->front());
    ASSERT_TRUE(members.has_value() && members->has_value());
    EXPECT_TRUE((*members)->sizes_follow_data(c.join));
    for (const auto& [at, gap, holds] :
         {std::tuple{c.join, kGap, true}, std::tuple{c.join - kUnit, kGap, false},
          std::tuple{c.join, kGap - kUnit, false}}) {
      SCOPED_TRACE(at);
      FileArea area(reader, 0, size, UnitGrid{0, kUnit}, PieceJoins{{at, at + gap}});
      auto by_members = (*members)->join_holds(area, at);
      ASSERT_TRUE(by_members.has_value());
      EXPECT_EQ(*by_members, holds);
    }
  }
}

// The photo's data is intact but its descriptor names another CRC-32 or size:
// whole, the package breaks off at the descriptor; in two pieces, the join
// that cuts the photo does not hold by the directory.
TEST(ZipDescriptorPackage, ADescriptorThatDisagreesBreaksTheMember) {
  struct Case {
    Package package;
    std::uint64_t field;  // from the descriptor's start
  };
  for (const Case& c : {Case{kJar, 4}, Case{kJar, 12}, Case{kZip64, 4}, Case{kZip64, 16}}) {
    SCOPED_TRACE(std::string(c.package.name) + " field " + std::to_string(c.field));
    std::vector<std::uint8_t> file = load_fixture(c.package.name);
    file[c.package.photo_descriptor + c.field] ^= 0x01;

    MemorySource whole{padded(file)};
    AreaReader whole_reader{whole};
    const std::optional<FileEnd> end = end_of(whole_reader, whole.bytes().size());
    ASSERT_TRUE(end);
    EXPECT_EQ(end->finding, EndFinding::Broken);
    EXPECT_EQ(end->confirmed, c.package.photo_descriptor);

    constexpr std::uint64_t kJoin = 4096;
    MemorySource source{in_two_pieces(file, kJoin, false)};
    AreaReader reader{source};
    auto tails = find_zip_tails(reader, kJoin, source.bytes().size(), 1);
    ASSERT_TRUE(tails.has_value() && tails->size() == 1);
    auto members = ZipMembers::read(reader, tails->front());
    ASSERT_TRUE(members.has_value() && members->has_value());
    FileArea area(reader, 0, source.bytes().size(), UnitGrid{0, kUnit},
                  PieceJoins{{kJoin, kJoin + kGap}});
    auto holds = (*members)->join_holds(area, kJoin);
    ASSERT_TRUE(holds.has_value());
    EXPECT_FALSE(*holds);
  }
}

// jar's members of 8 MiB of zeros and of one letter deflate to data that is
// itself mostly zeros, a thousandfold smaller: whole units of zeros and the
// bound on expansion hand their end to the descriptor's size, and the package
// checks to its end as before.
TEST(ZipDescriptorPackage, DataThatDeflatesToZerosEndsAtItsDescriptor) {
  const std::vector<std::uint8_t> file = load_fixture("carving/samples/zeros.jar");
  MemorySource source{padded(file)};
  AreaReader reader{source};
  for (const bool grid : {true, false}) {
    SCOPED_TRACE(grid ? "in units" : "without units");
    FileArea area = grid ? FileArea(reader, 0, source.bytes().size(), UnitGrid{0, kUnit})
                         : FileArea(reader, 0, source.bytes().size());
    auto end = find_file_end(FileFamily::Zip, area);
    ASSERT_TRUE(end.has_value() && end->has_value());
    EXPECT_EQ((*end)->finding, EndFinding::Checked);
    EXPECT_EQ((*end)->length, file.size());

    // zeros.bin's 8,157 bytes of data start at 222.
    auto deflated = find_deflate_end(area, 222);
    ASSERT_TRUE(deflated.has_value());
    EXPECT_EQ(deflated->stop, grid ? DeflateEnd::Stop::Zeros : DeflateEnd::Stop::Bounded);
    EXPECT_LT(deflated->position, 222u + 8157u);
  }
}

TEST(ZipDescriptor, ReadsWithOrWithoutItsSignatureBySize) {
  const std::vector<std::uint8_t> signed32 = {0x50, 0x4B, 0x07, 0x08, 1,   2, 3, 4,
                                              100,  0,    0,    0,    200, 0, 0, 0};
  const std::vector<std::uint8_t> bare32(signed32.begin() + 4, signed32.end());
  std::vector<std::uint8_t> signed64 = {0x50, 0x4B, 0x07, 0x08, 1, 2, 3, 4};
  for (const std::uint8_t size : {100, 200}) {
    signed64.push_back(size);
    signed64.insert(signed64.end(), 7, 0);
  }
  struct Case {
    std::vector<std::uint8_t> bytes;
    std::uint64_t packed;
    bool zip64;
    std::optional<std::size_t> length;
  };
  for (const Case& c :
       {Case{signed32, 100, false, 16}, Case{bare32, 100, false, 12}, Case{signed64, 100, true, 24},
        Case{{signed64.begin() + 4, signed64.end()}, 100, true, 20}, Case{signed32, 101, false, {}},
        Case{signed32, 100, true, {}},
        Case{{signed32.begin(), signed32.begin() + 15}, 100, false, {}}}) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    const std::optional<ZipDescriptor> descriptor = read_zip_descriptor(c.bytes, c.packed, c.zip64);
    ASSERT_EQ(descriptor.has_value(), c.length.has_value());
    if (!descriptor) continue;
    EXPECT_EQ(descriptor->length, *c.length);
    EXPECT_EQ(descriptor->crc, 0x04030201u);
    EXPECT_EQ(descriptor->unpacked, 200u);
  }
}

// A stored member whose descriptor never comes: its end is looked for 16 MiB
// on, not through the whole area.
TEST(ZipDescriptorPackage, AStoredMemberWithoutItsDescriptorIsLookedForBoundedly) {
  std::vector<std::uint8_t> bytes = {0x50, 0x4B, 0x03, 0x04, 20, 0, 0x08, 0, 0, 0};
  bytes.resize(26, 0);
  bytes.insert(bytes.end(), {1, 0, 0, 0, 'a'});
  bytes.resize(64u << 20, 'k');
  MemorySource source{bytes};
  AreaReader reader{source};
  const std::optional<FileEnd> end = end_of(reader, bytes.size());
  ASSERT_TRUE(end);
  EXPECT_EQ(end->finding, EndFinding::Unended);
  EXPECT_LE(source.bytes_read(), 32u << 20);
}

}  // namespace
}  // namespace kestrel::testing
