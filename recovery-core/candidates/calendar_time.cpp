#include "recovery-core/candidates/calendar_time.hpp"

#include <cstdio>
#include <cstdlib>

namespace kestrel {

namespace {

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && is_leap_year(year)) return 29;
  return kDays[month - 1];
}

// ".35", ".5" or nothing: the hundredths without the zeros that say nothing.
// The texts are formatted into fixed buffers: GCC 12 warns falsely about
// chains of string concatenation when it inlines them at -O3.
std::string fraction_text(int centiseconds) {
  if (centiseconds == 0) return {};
  char text[16];
  if (centiseconds % 10 == 0) {
    std::snprintf(text, sizeof text, ".%d", centiseconds / 10);
  } else {
    std::snprintf(text, sizeof text, ".%02d", centiseconds);
  }
  return text;
}

std::string offset_text(int minutes) {
  const int magnitude = std::abs(minutes);
  char text[32];
  std::snprintf(text, sizeof text, "%c%02d:%02d", minutes < 0 ? '-' : '+', magnitude / 60,
                magnitude % 60);
  return text;
}

bool expect(std::string_view text, std::size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

// ".35", up to seven digits, as nanoseconds; no point: 0.
std::optional<int> parse_fraction(std::string_view text, std::size_t& at) {
  if (at >= text.size() || text[at] != '.') return 0;
  ++at;
  int nanoseconds = 0;
  int scale = 100'000'000;
  std::size_t count = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    if (++count > 7) return std::nullopt;
    nanoseconds += (text[at] - '0') * scale;
    scale /= 10;
    ++at;
  }
  if (count == 0) return std::nullopt;
  return nanoseconds;
}

// "Z", "+09:00", "-03:30" or nothing at the end of the text, into `offset`;
// false for anything else.
bool parse_offset(std::string_view text, std::size_t& at, std::optional<int>& offset) {
  offset.reset();
  if (at == text.size()) return true;
  if (text[at] == 'Z') {
    ++at;
    offset = 0;
    return true;
  }
  if (text[at] != '+' && text[at] != '-') return false;
  const int sign = text[at] == '-' ? -1 : 1;
  ++at;
  auto hours = digits(text, at, 2);
  if (!hours || !expect(text, at, ':')) return false;
  auto minutes = digits(text, at, 2);
  if (!minutes || *minutes > 59) return false;
  offset = sign * (*hours * 60 + *minutes);
  return true;
}

}  // namespace

std::optional<int> digits(std::string_view text, std::size_t& at, std::size_t count) {
  if (text.size() < at + count) return std::nullopt;
  int value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = text[at + i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  at += count;
  return value;
}

bool is_real_date(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1) return false;
  return day <= days_in_month(year, month);
}

bool is_real_time(const CalendarTime& time) {
  return time.hour >= 0 && time.hour <= 23 && time.minute >= 0 && time.minute <= 59 &&
         time.second >= 0 && time.second <= 59 && time.centiseconds >= 0 && time.centiseconds <= 99;
}

std::optional<std::string> iso_date_text(const CalendarTime& time) {
  if (time.year < 0 || time.year > 9999 || !is_real_date(time.year, time.month, time.day))
    return std::nullopt;
  // Room for any three ints: GCC 12 under ThreadSanitizer does not see the
  // ranges checked above and refuses a buffer that fits only those.
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", time.year, time.month, time.day);
  return text;
}

std::optional<std::string> iso_date_time_text(const CalendarTime& time,
                                              std::optional<int> utc_offset_minutes) {
  auto date = iso_date_text(time);
  if (!date || !is_real_time(time)) return std::nullopt;
  char clock[48];
  std::snprintf(clock, sizeof clock, "T%02d:%02d:%02d", time.hour, time.minute, time.second);
  std::string text = *date;
  text.append(clock);
  text.append(fraction_text(time.centiseconds));
  if (utc_offset_minutes) text.append(offset_text(*utc_offset_minutes));
  return text;
}

CalendarTime packed_calendar(std::uint16_t date, std::uint16_t time) {
  constexpr int kFirstYear = 1980;
  CalendarTime calendar;
  calendar.year = kFirstYear + (date >> 9);
  calendar.month = (date >> 5) & 0x0F;
  calendar.day = date & 0x1F;
  calendar.hour = time >> 11;
  calendar.minute = (time >> 5) & 0x3F;
  calendar.second = (time & 0x1F) * 2;
  return calendar;
}

std::optional<std::string> packed_date_time_text(std::uint16_t date, std::uint16_t time,
                                                 std::uint8_t ten_ms,
                                                 std::optional<int> utc_offset_minutes) {
  constexpr int kMostTenMs = 199;
  if (date == 0 || ten_ms > kMostTenMs) return std::nullopt;
  CalendarTime calendar = packed_calendar(date, time);
  // Seconds 60 and above are impossible before the count is added; the count
  // then adds at most one more second (58 + 1.99 stays within the minute).
  if (!is_real_time(calendar)) return std::nullopt;
  calendar.second += ten_ms / 100;
  calendar.centiseconds = ten_ms % 100;
  return iso_date_time_text(calendar, utc_offset_minutes);
}

std::optional<ParsedIsoTime> parse_iso_time(std::string_view text) {
  ParsedIsoTime parsed;
  std::size_t at = 0;
  auto year = digits(text, at, 4);
  if (!year || !expect(text, at, '-')) return std::nullopt;
  auto month = digits(text, at, 2);
  if (!month || !expect(text, at, '-')) return std::nullopt;
  auto day = digits(text, at, 2);
  if (!day || !is_real_date(*year, *month, *day)) return std::nullopt;
  parsed.time = CalendarTime{*year, *month, *day};
  if (at == text.size()) return parsed;

  if (!expect(text, at, 'T')) return std::nullopt;
  auto hour = digits(text, at, 2);
  if (!hour || !expect(text, at, ':')) return std::nullopt;
  auto minute = digits(text, at, 2);
  if (!minute || !expect(text, at, ':')) return std::nullopt;
  auto second = digits(text, at, 2);
  if (!second) return std::nullopt;
  auto nanoseconds = parse_fraction(text, at);
  if (!nanoseconds) return std::nullopt;
  std::optional<int> offset;
  if (!parse_offset(text, at, offset) || at != text.size()) return std::nullopt;
  parsed.time.hour = *hour;
  parsed.time.minute = *minute;
  parsed.time.second = *second;
  parsed.time.centiseconds = *nanoseconds / 10'000'000;
  if (!is_real_time(parsed.time)) return std::nullopt;
  parsed.has_time_of_day = true;
  parsed.nanoseconds = *nanoseconds;
  parsed.utc_offset_minutes = offset;
  return parsed;
}

}  // namespace kestrel
