#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// A reading of a calendar and a clock as a record stores it, before anyone
// has checked that it can be real.
struct CalendarTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int centiseconds = 0;  // hundredths of a second, 0..99
};

// Whether the day exists (month 1..12, the day within its month, leap years
// counted) and the time is one a clock shows (no second 60).
bool is_real_date(int year, int month, int day);
bool is_real_time(const CalendarTime& time);

// "2024-05-03", or nothing for a day that does not exist or a year outside
// 0..9999.
std::optional<std::string> iso_date_text(const CalendarTime& time);

// "2024-05-03T14:22:10", with the hundredths after a point when they are not
// zero and without their trailing zero (".35", ".5"), and the UTC offset in
// minutes when the record has one ("+09:00", "-03:30"). Nothing when the date
// or the time cannot be real.
std::optional<std::string> iso_date_time_text(const CalendarTime& time,
                                              std::optional<int> utc_offset_minutes);

// The date and time as directory entries pack them in 16 bits each: years
// since 1980, month and day; hour, minute and seconds in steps of two.
CalendarTime packed_calendar(std::uint16_t date, std::uint16_t time);

// The text of a packed date and time with its count of 10 ms (which may add up
// to 1.99 s), as iso_date_time_text writes it. Nothing for a zero date, a
// count above 199, or a date or time that cannot be real.
std::optional<std::string> packed_date_time_text(std::uint16_t date, std::uint16_t time,
                                                 std::uint8_t ten_ms,
                                                 std::optional<int> utc_offset_minutes);

// Exactly `count` decimal digits at `at` of `text`, read as a number; `at`
// moves past them. Nothing (and `at` unmoved) when they are not all digits.
std::optional<int> digits(std::string_view text, std::size_t& at, std::size_t count);

// A text of the forms above read back: the calendar reading, whether it holds
// a time of day, and its offset when it has one ("Z" is an offset of 0).
// Up to seven fraction digits are read (to 100 ns); nothing for any other text.
struct ParsedIsoTime {
  CalendarTime time;
  bool has_time_of_day = false;
  int nanoseconds = 0;
  std::optional<int> utc_offset_minutes;
};
std::optional<ParsedIsoTime> parse_iso_time(std::string_view text);

}  // namespace kestrel
