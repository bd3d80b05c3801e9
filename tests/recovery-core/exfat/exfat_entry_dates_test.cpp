// The dates of an exFAT File entry: 10 ms counts, and the UTC offset only when
// its valid bit is set.
#include "recovery-core/exfat/exfat_entry_dates.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::testing {
namespace {

std::uint32_t stamp(int year, int month, int day, int hour, int minute, int second) {
  const auto date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const auto time = static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return (date << 16) | time;
}

std::uint8_t valid_offset(int quarter_hours) {
  return static_cast<std::uint8_t>(0x80 | (quarter_hours & 0x7F));
}

TEST(ExfatEntryDates, TimestampsAndOffsets) {
  struct Case {
    const char* label;
    std::uint32_t timestamp;
    std::uint8_t centiseconds;
    std::uint8_t offset;
    std::optional<std::string> expected;
  };
  const std::uint32_t may3 = stamp(2024, 5, 3, 14, 22, 10);
  const std::vector<Case> cases = {
      {"valid offset east", may3, 35, valid_offset(36), "2024-05-03T14:22:10.35+09:00"},
      {"valid offset west, half hour", may3, 0, valid_offset(-14), "2024-05-03T14:22:10-03:30"},
      {"valid offset of zero", may3, 0, valid_offset(0), "2024-05-03T14:22:10+00:00"},
      {"offset bits without the valid bit", may3, 135, 36, "2024-05-03T14:22:11.35"},
      {"valid bit, offset beyond +14:00", may3, 0, valid_offset(60), "2024-05-03T14:22:10"},
      {"lowest offset the format allows", may3, 0, valid_offset(-48), "2024-05-03T14:22:10-12:00"},
      {"zero date", 0x0000'7000, 0, valid_offset(36), std::nullopt},
      {"month 13", (static_cast<std::uint32_t>((44 << 9) | (13 << 5) | 3) << 16), 0, 0,
       std::nullopt},
      {"second 60", (may3 & 0xFFFF'FFE0u) | 30u, 0, 0, std::nullopt},
      {"count above 199", may3, 200, 0, std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(exfat_timestamp_text(c.timestamp, c.centiseconds, c.offset), c.expected) << c.label;
}

TEST(ExfatEntryDates, ReadsEachDateFromTheFileEntry) {
  std::array<std::uint8_t, 64> set{};
  auto put32 = [&](std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) set[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  set[0] = 0x05;
  put32(8, stamp(2023, 11, 20, 9, 5, 0));
  put32(12, stamp(2024, 5, 30, 18, 30, 44));
  put32(16, stamp(2024, 6, 1, 7, 0, 2));
  set[20] = 1;
  set[21] = 99;
  set[22] = valid_offset(-20);
  set[23] = valid_offset(36);
  set[24] = 0;  // not valid: local time
  const FileDates dates = exfat_entry_dates_of(set);
  EXPECT_EQ(dates.created, "2023-11-20T09:05:00.01-05:00");
  EXPECT_EQ(dates.modified, "2024-05-30T18:30:44.99+09:00");
  EXPECT_EQ(dates.accessed, "2024-06-01T07:00:02");

  EXPECT_EQ(exfat_entry_dates_of(std::span<const std::uint8_t>(set).first(8)), FileDates{});
}

}  // namespace
}  // namespace kestrel::testing
