#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recovery-core/text/unicode.hpp"
#include "recovery-core/text/utf16.hpp"
#include "recovery-core/text/utf8.hpp"

namespace kestrel::testing {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(Utf8Lossy, EachMaximalInvalidSubsequenceBecomesOneReplacement) {
  struct Case {
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"\xC3\xA9\xED\x95\x9C", "\xC3\xA9\xED\x95\x9C"},
      {"\xEF\xBF\xBD", kFffd},  // U+FFFD itself stays
      {"a\x80"
       "b",
       "a" + kFffd + "b"},          // lone continuation
      {"\xE0\x80", kFffd + kFffd},  // E0 needs A0..BF
      {"\xE2\x82", kFffd},          // truncated 3-byte sequence: one
      {"\xF0\x9F\x93", kFffd},      // truncated 4-byte sequence: one
      {"\xF0\x9F\x93"
       "x",
       kFffd + "x"},
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},              // surrogate: ED A0 is not a prefix
      {"\xC0\xAF", kFffd + kFffd},                          // overlong
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},  // above U+10FFFF
      {"\xFF\xFE", kFffd + kFffd},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) EXPECT_EQ(decode_utf8_lossy(c.input), c.expected);
  EXPECT_TRUE(is_valid_utf8("\xF0\x9F\x93\xB7"));
  EXPECT_FALSE(is_valid_utf8("\xF0\x9F\x93"));
}

TEST(Utf16, UnpairedSurrogatesBecomeReplacementOrReject) {
  const std::u16string pair = u"\xD83D\xDCF7";  // U+1F4F7
  EXPECT_EQ(decode_utf16_lossy(pair), "\xF0\x9F\x93\xB7");
  const std::u16string lone_high = {0xD83D, u'A'};
  EXPECT_EQ(decode_utf16_lossy(lone_high), kFffd + "A");
  const std::u16string lone_low = {u'A', 0xDC00};
  EXPECT_EQ(decode_utf16_lossy(lone_low), "A" + kFffd);
  const std::u16string high_high_low = {0xD800, 0xD83D, 0xDCF7};
  EXPECT_EQ(decode_utf16_lossy(high_high_low), kFffd + "\xF0\x9F\x93\xB7");
  EXPECT_FALSE(decode_utf16_strict(lone_high));
  EXPECT_EQ(decode_utf16_strict(std::u16string(u"보고서.pdf")), "보고서.pdf");
  const std::vector<std::uint8_t> le = {'A', 0, 0x74, 0xD5, 'z'};
  EXPECT_EQ(utf16_units_from_le_bytes(le), std::u16string(u"A\xD574"));
  EXPECT_EQ(encode_utf16("a\xF0\x9F\x93\xB7"), std::u16string(u"a\xD83D\xDCF7"));
}

TEST(WhiteSpace, TrimsUnicodeWhiteSpaceOnly) {
  EXPECT_EQ(trim_unicode_white_space(" \t\n\v\f\r x y \r\n"), "x y");
  EXPECT_EQ(trim_unicode_white_space("\u00A0\u3000\u2028name\u205F\u0085"), "name");
  EXPECT_EQ(trim_unicode_white_space("\u200Bname"),
            "\u200Bname");  // zero width space is not White_Space
  EXPECT_EQ(trim_unicode_white_space("   "), "");
  EXPECT_EQ(trim_unicode_white_space(""), "");
  EXPECT_EQ(trim_unicode_white_space("\xE3\x80"), "\xE3\x80");
}

TEST(UpperCase, FullMappings) {
  EXPECT_EQ(to_upper_full("img_0002.jpg"), "IMG_0002.JPG");
  EXPECT_EQ(to_upper_full("straße"), "STRASSE");
  EXPECT_EQ(to_upper_full("ﬁle"), "FILE");
  EXPECT_EQ(to_upper_full("ŉ"), "\u02BCN");
  EXPECT_EQ(to_upper_full("éàü ǆ"), "ÉÀÜ Ǆ");
  EXPECT_EQ(to_upper_full("사진 ㅎ"), "사진 ㅎ");
  EXPECT_EQ(to_upper_full("i"), "I");  // no locale: dotless rules of Turkish do not apply
  EXPECT_EQ(to_upper_full(""), "");
  EXPECT_EQ(to_upper_full("ﬃ ΐ"), "FFI Ϊ́");  // three code points from one
  EXPECT_EQ(to_upper_full("𞤢𐐨"), "𞤀𐐀");      // beyond the BMP
  EXPECT_EQ(to_upper_full("a\xFF"
                          "b"),
            "A\xEF\xBF\xBD"
            "B");  // invalid UTF-8 becomes U+FFFD
}

}  // namespace
}  // namespace kestrel::testing
