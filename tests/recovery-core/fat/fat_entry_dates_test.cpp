// The dates of a FAT short entry: local time with no zone, modified to 2 s,
// created to 10 ms, accessed a date; zero or impossible fields read as none.
#include "recovery-core/fat/fat_entry_dates.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::testing {
namespace {

// DOS packing, written out field by field so that a field out of its range
// (month 13) can be stored as the bits a damaged entry would hold.
std::uint16_t dos_date(int year, int month, int day) {
  return static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}
std::uint16_t dos_time(int hour, int minute, int second) {
  return static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

TEST(FatEntryDates, DateAndTimeFields) {
  struct Case {
    const char* label;
    std::uint16_t date;
    std::uint16_t time;
    std::uint8_t centiseconds;
    std::optional<std::string> expected;
  };
  const std::uint16_t may3 = dos_date(2024, 5, 3);
  const std::vector<Case> cases = {
      {"two-second time", may3, dos_time(14, 22, 10), 0, "2024-05-03T14:22:10"},
      {"10 ms count past a second", may3, dos_time(14, 22, 10), 135, "2024-05-03T14:22:11.35"},
      {"trailing zero of the hundredths dropped", may3, dos_time(14, 22, 10), 50,
       "2024-05-03T14:22:10.5"},
      {"the last count", may3, dos_time(23, 59, 58), 199, "2024-05-03T23:59:59.99"},
      {"count above 199", may3, dos_time(14, 22, 10), 200, std::nullopt},
      {"zero time is midnight", may3, 0, 0, "2024-05-03T00:00:00"},
      {"zero date", 0, dos_time(14, 22, 10), 0, std::nullopt},
      {"month 13", static_cast<std::uint16_t>((44 << 9) | (13 << 5) | 3), 0, 0, std::nullopt},
      {"month 0", static_cast<std::uint16_t>((44 << 9) | 3), 0, 0, std::nullopt},
      {"day 0", static_cast<std::uint16_t>((44 << 9) | (5 << 5)), 0, 0, std::nullopt},
      {"29 February of a leap year", dos_date(2024, 2, 29), 0, 0, "2024-02-29T00:00:00"},
      {"29 February of another year", dos_date(2023, 2, 29), 0, 0, std::nullopt},
      {"31 April", dos_date(2024, 4, 31), 0, 0, std::nullopt},
      {"second 60", may3, static_cast<std::uint16_t>((14 << 11) | (22 << 5) | 30), 0, std::nullopt},
      {"minute 60", may3, static_cast<std::uint16_t>((14 << 11) | (60 << 5)), 0, std::nullopt},
      {"hour 24", may3, static_cast<std::uint16_t>(24 << 11), 0, std::nullopt},
      {"first day the format holds", dos_date(1980, 1, 1), 0, 0, "1980-01-01T00:00:00"},
      {"last day the format holds", dos_date(2107, 12, 31), dos_time(23, 59, 58), 0,
       "2107-12-31T23:59:58"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(fat_date_time_text(c.date, c.time, c.centiseconds), c.expected) << c.label;

  EXPECT_EQ(fat_date_text(may3), "2024-05-03");
  EXPECT_EQ(fat_date_text(0), std::nullopt);
  EXPECT_EQ(fat_date_text(dos_date(2024, 2, 30)), std::nullopt);
}

TEST(FatEntryDates, ReadsEachDateFromItsOwnField) {
  Fat32DirectoryEntry entry{};
  auto put = [&](std::size_t at, std::uint16_t value) {
    entry[at] = static_cast<std::uint8_t>(value & 0xFF);
    entry[at + 1] = static_cast<std::uint8_t>(value >> 8);
  };
  entry[13] = 35;
  put(14, dos_time(9, 5, 0));
  put(16, dos_date(2023, 11, 20));
  put(18, dos_date(2024, 6, 1));
  put(22, dos_time(18, 30, 44));
  put(24, dos_date(2024, 5, 30));
  const FileDates dates = fat_entry_dates_of(entry);
  EXPECT_EQ(dates.modified, "2024-05-30T18:30:44");
  EXPECT_EQ(dates.created, "2023-11-20T09:05:00.35");
  EXPECT_EQ(dates.accessed, "2024-06-01");

  EXPECT_EQ(fat_entry_dates_of(Fat32DirectoryEntry{}), FileDates{});
}

}  // namespace
}  // namespace kestrel::testing
