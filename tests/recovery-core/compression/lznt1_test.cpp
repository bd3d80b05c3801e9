// LZNT1 chunks built by hand from the format's rules: literals and a back
// reference whose 16 bits split by how far into the chunk it stands, stored
// chunks, and damage that must be refused rather than read past.
#include "recovery-core/compression/lznt1.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrel::testing {
namespace {

std::string text_of(const std::vector<std::uint8_t>& bytes, std::size_t length) {
  return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)};
}

TEST(Lznt1, DecodesChunksAndRefusesDamage) {
  // "abc", then a reference 3 back, 6 long: "abcabcabc". Flags 0x08 mark the
  // fourth token as a reference; at position 3 the offset takes the top 4 bits.
  const std::vector<std::uint8_t> compressed = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x03, 0x20};
  std::vector<std::uint8_t> out(16, 0xEE);
  ASSERT_TRUE(decompress_lznt1(compressed, out));
  EXPECT_EQ(text_of(out, 9), "abcabcabc");
  EXPECT_EQ(out[9], 0);  // the rest of the unit is zeros
  EXPECT_EQ(out[15], 0);

  // A stored chunk (flag bit clear) is copied; a zero header ends the chunks.
  std::vector<std::uint8_t> stored = {0x03, 0x30, 'w', 'x', 'y', 'z', 0x00, 0x00, 'q'};
  ASSERT_TRUE(decompress_lznt1(stored, out));
  EXPECT_EQ(text_of(out, 5), std::string("wxyz\0", 5));

  // A chunk that claims more bytes than there are, or a reference before the
  // chunk's first byte, is damage.
  const std::vector<std::uint8_t> overrun = {0x20, 0xB0, 0x00, 'a'};
  EXPECT_FALSE(decompress_lznt1(overrun, out));
  const std::vector<std::uint8_t> before_start = {0x03, 0xB0, 0x02, 'a', 0x00, 0x30};
  EXPECT_FALSE(decompress_lznt1(before_start, out));
  const std::vector<std::uint8_t> reference_first = {0x02, 0xB0, 0x01, 0x00, 0x00};
  EXPECT_FALSE(decompress_lznt1(reference_first, out));
}

TEST(Lznt1, ChunksFillFourKilobytesEach) {
  // Two chunks: the first gives back 3 bytes and is followed by zeros up to
  // 4 KiB, where the second chunk's bytes begin.
  const std::vector<std::uint8_t> two = {0x03, 0xB0, 0x00, 'a', 'b', 'c',
                                         0x03, 0xB0, 0x00, 'x', 'y', 'z'};
  std::vector<std::uint8_t> out(kLznt1ChunkBytes + 8, 0xEE);
  ASSERT_TRUE(decompress_lznt1(two, out));
  EXPECT_EQ(text_of(out, 3), "abc");
  EXPECT_EQ(out[3], 0);
  EXPECT_EQ(out[kLznt1ChunkBytes - 1], 0);
  EXPECT_EQ(std::string(out.begin() + kLznt1ChunkBytes, out.begin() + kLznt1ChunkBytes + 3), "xyz");
}

}  // namespace
}  // namespace kestrel::testing
