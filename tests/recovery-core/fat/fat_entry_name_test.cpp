// The FAT32 name rules: short names, deleted long names (structure, checksum
// compatibility, terminator and padding, text checks) and forbidden characters.
#include "recovery-core/fat/fat_entry_name.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/crafted_volumes.hpp"

namespace kestrel::testing {
namespace {

std::vector<Fat32DirectoryEntry> as_pending(const std::vector<RawEntry>& entries) {
  return std::vector<Fat32DirectoryEntry>(entries.begin(), entries.end());
}

TEST(Fat32ShortName, DecodesBaseAndExtension) {
  struct Case {
    std::string stored;
    bool deleted;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"REPORT  PDF", true, "_EPORT.PDF"},
      {"REPORT  PDF", false, "REPORT.PDF"},
      {"README     ", false, "README"},
      {"A          ", true, "_"},
      {".          ", false, "."},
      {"..         ", false, ".."},
      {"NAME\xFF   TXT", false, "NAME\xEF\xBF\xBD.TXT"},  // invalid byte becomes U+FFFD
      {"  PAD   T  ", false, "PAD.T"},
  };
  for (const Case& c : cases) {
    const RawEntry entry = fat_short_entry(c.stored, 0x20, 3, 1);
    EXPECT_EQ(decode_short_name(entry, c.deleted), c.expected) << c.stored;
  }
}

TEST(Fat32ForbiddenNameChar, ControlCharactersAndReservedPunctuation) {
  for (const std::string& name : std::vector<std::string>{
           "a\x01", "tab\there", "x\x7F", "c1\xC2\x80", "c1\xC2\x9F", "a\\b", "a/b", "a:b", "a*b",
           "a?b", "a\"b", "a<b", "a>b", "a|b", std::string("a\0b", 3)}) {
    EXPECT_TRUE(has_forbidden_name_char(name)) << name;
  }
  for (const std::string& name : std::vector<std::string>{"plain.txt", "with space", "\xC2\xA0nbsp",
                                                          "\xED\x95\x9C\xEA\xB8\x80", "semi;colon",
                                                          "plus+comma,", "[brackets]", "~tilde"}) {
    EXPECT_FALSE(has_forbidden_name_char(name)) << name;
  }
}

// The first bytes a short name may start with, written out from the on-disk
// rules: 0x21-0xFF except the deletion marker and " * + , . / : ; < = > ? [ \ ] |.
bool allowed_first_byte(unsigned byte) {
  if (byte < 0x21 || byte == 0xE5) return false;
  const std::string excluded = "\"*+,./:;<=>?[\\]|";
  return excluded.find(static_cast<char>(byte)) == std::string::npos;
}

TEST(Fat32LongNameChecksum, EveryAllowedFirstByteAndNoOther) {
  // Deletion overwrote the first byte; the checksum is accepted exactly when a
  // first byte the rules allow reproduces it.
  const RawEntry short_entry = fat_deleted(fat_short_entry("XUARTE~1PDF", 0x20, 5, 100));
  for (unsigned first = 0; first <= 0xFF; ++first) {
    std::string name11 = "XUARTE~1PDF";
    name11[0] = static_cast<char>(first);
    const std::uint8_t checksum = fat_long_name_checksum(name11);
    EXPECT_EQ(checksum_compatible_with_deleted_short_name(short_entry, checksum),
              allowed_first_byte(first))
        << "first byte " << first;
  }
}

struct LongNameCase {
  std::string label;
  std::vector<RawEntry> pending;
  RawEntry short_entry;
  std::optional<std::string> expected;
};

std::vector<LongNameCase> long_name_cases() {
  const std::string stored = "QUARTE~1PDF";
  const std::uint8_t sum = fat_long_name_checksum(stored);
  const RawEntry deleted_short = fat_deleted(fat_short_entry(stored, 0x20, 5, 100));
  const auto entries = [&](std::u16string_view name) {
    return fat_long_name_entries(name, sum, true);
  };
  std::vector<LongNameCase> cases;

  cases.push_back(
      {"two entries", entries(u"Quarterly report.pdf"), deleted_short, "Quarterly report.pdf"});
  cases.push_back({"exactly 13 units, no terminator", entries(u"Thirteen char"), deleted_short,
                   "Thirteen char"});
  cases.push_back({"non-ASCII", entries(u"\uD55C\uAE00 \u00E9t\u00E9.txt"), deleted_short,
                   "\xED\x95\x9C\xEA\xB8\x80 \xC3\xA9t\xC3\xA9.txt"});
  cases.push_back({"live short entry", entries(u"Quarterly report.pdf"),
                   fat_short_entry(stored, 0x20, 5, 100), std::nullopt});
  // Only the excluded first byte "." reproduces this checksum.
  cases.push_back(
      {"checksum needs a forbidden first byte",
       fat_long_name_entries(u"Quarterly report.pdf", fat_long_name_checksum(".UARTE~1PDF"), true),
       deleted_short, std::nullopt});

  auto mixed = entries(u"Quarterly report.pdf");
  mixed[1][13] = static_cast<std::uint8_t>(sum + 1);
  cases.push_back({"entries disagree on the checksum", mixed, deleted_short, std::nullopt});

  auto typed = entries(u"Quarterly report.pdf");
  typed[0][12] = 1;
  cases.push_back({"type byte not zero", typed, deleted_short, std::nullopt});

  auto clustered = entries(u"Quarterly report.pdf");
  clustered[1][26] = 7;
  cases.push_back({"first-cluster field not zero", clustered, deleted_short, std::nullopt});

  auto live_part = entries(u"Quarterly report.pdf");
  live_part[0][0] = 0x42;
  cases.push_back({"one entry not deleted", live_part, deleted_short, std::nullopt});

  // Units after the terminator: only 0x0000 and 0xFFFF may follow.
  auto garbage_after = entries(u"Quarterly report.pdf");
  garbage_after[0][30] = 'x';  // the last unit of the name's second part
  garbage_after[0][31] = 0;
  cases.push_back({"text after the terminator", garbage_after, deleted_short, std::nullopt});

  auto zero_padding = entries(u"Quarterly report.pdf");
  for (std::size_t offset : {28u, 29u, 30u, 31u}) zero_padding[0][offset] = 0;
  cases.push_back(
      {"zeros after the terminator", zero_padding, deleted_short, "Quarterly report.pdf"});

  auto early_padding = entries(u"Quarterly rep");
  early_padding[0][1] = 0xFF;  // first unit becomes 0xFFFF before any terminator
  early_padding[0][2] = 0xFF;
  cases.push_back({"padding before the terminator", early_padding, deleted_short, std::nullopt});

  cases.push_back({"empty name", entries(u""), deleted_short, std::nullopt});
  cases.push_back({"dot", entries(u"."), deleted_short, std::nullopt});
  cases.push_back({"dot dot", entries(u".."), deleted_short, std::nullopt});
  cases.push_back({"colon", entries(u"a:b.txt"), deleted_short, std::nullopt});
  cases.push_back({"control character", entries(u"a\u0001b.txt"), deleted_short, std::nullopt});
  cases.push_back({"unpaired surrogate", entries(u"bad\xD800.txt"), deleted_short, std::nullopt});

  const std::u16string longest(255, u'n');
  cases.push_back({"255 units", entries(longest), deleted_short, std::string(255, 'n')});
  const std::u16string too_long(260, u'n');  // 20 full entries and no terminator
  cases.push_back({"260 units", entries(too_long), deleted_short, std::nullopt});
  auto twenty_one = entries(std::u16string(270, u'n'));
  cases.push_back({"21 entries", twenty_one, deleted_short, std::nullopt});
  return cases;
}

TEST(Fat32DeletedLongName, StructureChecksumAndTextRules) {
  for (const LongNameCase& c : long_name_cases()) {
    EXPECT_EQ(assemble_deleted_long_name(as_pending(c.pending), c.short_entry), c.expected)
        << c.label;
  }
}

}  // namespace
}  // namespace kestrel::testing
