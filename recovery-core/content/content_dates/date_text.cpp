#include "recovery-core/content/content_dates/date_text.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "recovery-core/candidates/calendar_time.hpp"

namespace kestrel {

namespace {

constexpr int kMostOffsetMinutes = 14 * 60;

bool holds(DateFields fields, DateFields field) {
  return static_cast<int>(fields) >= static_cast<int>(field);
}

bool fields_can_be_real(const CalendarTime& time, DateFields fields) {
  if (time.year < 1 || time.year > 9999) return false;
  if (holds(fields, DateFields::Month) && (time.month < 1 || time.month > 12)) return false;
  if (holds(fields, DateFields::Day) && !is_real_date(time.year, time.month, time.day))
    return false;
  if (holds(fields, DateFields::Hour) && (time.hour < 0 || time.hour > 23)) return false;
  if (holds(fields, DateFields::Minute) && (time.minute < 0 || time.minute > 59)) return false;
  return !holds(fields, DateFields::Second) || (time.second >= 0 && time.second <= 59);
}

// Appends "-05", ":22" and the like: a separator and two digits.
void append_field(std::string& text, char separator, int value) {
  char field[8];
  std::snprintf(field, sizeof field, "%c%02d", separator, value);
  text.append(field);
}

bool next_is(std::string_view text, std::size_t at, char c) {
  return at < text.size() && text[at] == c;
}

// The zone at the end of a W3C text, or nothing when it is not one.
std::optional<DateZone> w3c_zone(std::string_view text, std::size_t at) {
  if (at == text.size()) return DateZone{};
  if (text.substr(at) == "Z") return DateZone{DateZone::Mark::Utc, 0};
  if (!next_is(text, at, '+') && !next_is(text, at, '-')) return std::nullopt;
  const int sign = text[at] == '-' ? -1 : 1;
  ++at;
  const auto hours = digits(text, at, 2);
  if (!hours || !next_is(text, at, ':')) return std::nullopt;
  ++at;
  const auto minutes = digits(text, at, 2);
  if (!minutes || *minutes > 59 || at != text.size()) return std::nullopt;
  return DateZone{DateZone::Mark::Offset, sign * (*hours * 60 + *minutes)};
}

}  // namespace

std::optional<std::string> reading_text(const CalendarTime& time, DateFields fields,
                                        DateZone zone) {
  if (!fields_can_be_real(time, fields)) return std::nullopt;
  if (zone.mark == DateZone::Mark::Offset && std::abs(zone.minutes) > kMostOffsetMinutes)
    return std::nullopt;
  char year[8];
  std::snprintf(year, sizeof year, "%04d", time.year);
  std::string text = year;
  if (holds(fields, DateFields::Month)) append_field(text, '-', time.month);
  if (holds(fields, DateFields::Day)) append_field(text, '-', time.day);
  if (!holds(fields, DateFields::Hour)) return text;
  append_field(text, 'T', time.hour);
  if (holds(fields, DateFields::Minute)) append_field(text, ':', time.minute);
  if (holds(fields, DateFields::Second)) append_field(text, ':', time.second);
  if (zone.mark == DateZone::Mark::Utc) text.push_back('Z');
  if (zone.mark == DateZone::Mark::Offset) {
    const int magnitude = std::abs(zone.minutes);
    append_field(text, zone.minutes < 0 ? '-' : '+', magnitude / 60);
    append_field(text, ':', magnitude % 60);
  }
  return text;
}

std::optional<std::string> seconds_since_1904_text(std::uint64_t seconds) {
  using namespace std::chrono;
  constexpr sys_days kFirstDay{year{1904} / January / 1};
  constexpr sys_days kLastDay{year{9999} / December / 31};
  constexpr auto kDaysCounted = static_cast<std::uint64_t>((kLastDay - kFirstDay).count()) + 1;
  constexpr std::uint64_t kSecondsPerDay = 86'400;
  if (seconds == 0 || seconds / kSecondsPerDay >= kDaysCounted) return std::nullopt;
  const sys_days day = kFirstDay + days{static_cast<int>(seconds / kSecondsPerDay)};
  const year_month_day date{day};
  const auto of_day = static_cast<int>(seconds % kSecondsPerDay);
  const CalendarTime time{static_cast<int>(date.year()),
                          static_cast<int>(static_cast<unsigned>(date.month())),
                          static_cast<int>(static_cast<unsigned>(date.day())),
                          of_day / 3600,
                          of_day / 60 % 60,
                          of_day % 60,
                          0};
  return reading_text(time, DateFields::Second, DateZone{DateZone::Mark::Utc, 0});
}

bool is_w3c_date_text(std::string_view text) {
  CalendarTime time;
  std::size_t at = 0;
  const auto year = digits(text, at, 4);
  if (!year) return false;
  time.year = *year;
  DateFields fields = DateFields::Year;
  const std::pair<DateFields, int*> date_fields[] = {{DateFields::Month, &time.month},
                                                     {DateFields::Day, &time.day}};
  for (const auto& [field, value] : date_fields) {
    if (at == text.size()) break;
    if (!next_is(text, at++, '-')) return false;
    const auto read = digits(text, at, 2);
    if (!read) return false;
    *value = *read;
    fields = field;
  }
  if (at == text.size()) return fields_can_be_real(time, fields);
  if (fields != DateFields::Day || !next_is(text, at++, 'T')) return false;
  const auto hour = digits(text, at, 2);
  if (!hour || !next_is(text, at++, ':')) return false;
  const auto minute = digits(text, at, 2);
  if (!minute) return false;
  time.hour = *hour;
  time.minute = *minute;
  fields = DateFields::Minute;
  if (next_is(text, at, ':')) {
    ++at;
    const auto second = digits(text, at, 2);
    if (!second) return false;
    time.second = *second;
    fields = DateFields::Second;
    if (next_is(text, at, '.')) {
      const std::size_t first_digit = ++at;
      while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
      if (at == first_digit) return false;
    }
  }
  const std::optional<DateZone> zone = w3c_zone(text, at);
  return zone && reading_text(time, fields, *zone).has_value();
}

}  // namespace kestrel
