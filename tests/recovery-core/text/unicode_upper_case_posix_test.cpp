// The upper-case table is generated from ICU; ICU stays the reference on Linux.
#include <gtest/gtest.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <string>

#include "recovery-core/text/unicode.hpp"
#include "recovery-core/text/utf8.hpp"

namespace kestrel::testing {
namespace {

std::u32string icu_upper(const std::u32string& text) {
  std::u16string source;
  for (const char32_t cp : text) {
    if (cp >= 0x10000) {
      source.push_back(static_cast<char16_t>(U16_LEAD(cp)));
      source.push_back(static_cast<char16_t>(U16_TRAIL(cp)));
    } else {
      source.push_back(static_cast<char16_t>(cp));
    }
  }
  std::u16string upper(source.size() * 3 + 8, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length =
      u_strToUpper(reinterpret_cast<UChar*>(upper.data()), static_cast<int32_t>(upper.size()),
                   reinterpret_cast<const UChar*>(source.data()),
                   static_cast<int32_t>(source.size()), "", &status);
  EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
  std::u32string result;
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U16_NEXT(upper.data(), i, length, c);
    result.push_back(static_cast<char32_t>(c));
  }
  return result;
}

TEST(UpperCaseTable, MatchesIcuForEveryCodePoint) {
  int mismatches = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF && mismatches < 10; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    const std::u32string expected = icu_upper(std::u32string(1, cp));
    const auto mapped = full_upper_case_mapping(cp);
    const std::u32string actual = mapped ? std::u32string(*mapped) : std::u32string(1, cp);
    if (actual != expected) {
      ++mismatches;
      ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(cp)
                    << ": the table differs from ICU; run scripts/generate-upper-case-table.sh";
    }
  }
}

std::string utf8_of(const std::u32string& text) {
  std::string utf8;
  for (const char32_t cp : text) append_utf8(utf8, cp);
  return utf8;
}

TEST(UpperCaseTable, WholeTextsMatchIcu) {
  const std::u32string texts[] = {
      U"straße ﬃ ŉ ǰ ΐ ᾳ ῷ ﬀ İi ı",
      U"사진 img_0001.jpg Ärger ǆǅǄ",
      U"\U0001E922\U00010428 ꭰ ᏸ ⓐ",
      U"",
  };
  for (const std::u32string& text : texts) {
    EXPECT_EQ(to_upper_full(utf8_of(text)), utf8_of(icu_upper(text))) << utf8_of(text);
  }
}

}  // namespace
}  // namespace kestrel::testing
