#include "recovery-core/fat/fat_entry_dates.hpp"

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/candidates/calendar_time.hpp"

namespace kestrel {

namespace {

constexpr int kFirstYear = 1980;
constexpr int kMostCentiseconds = 199;

CalendarTime calendar_date(std::uint16_t date) {
  CalendarTime time;
  time.year = kFirstYear + (date >> 9);
  time.month = (date >> 5) & 0x0F;
  time.day = date & 0x1F;
  return time;
}

void add_clock(CalendarTime& calendar, std::uint16_t time) {
  calendar.hour = time >> 11;
  calendar.minute = (time >> 5) & 0x3F;
  calendar.second = (time & 0x1F) * 2;
}

}  // namespace

std::optional<std::string> fat_date_text(std::uint16_t date) {
  if (date == 0) return std::nullopt;
  return iso_date_text(calendar_date(date));
}

std::optional<std::string> fat_date_time_text(std::uint16_t date, std::uint16_t time,
                                              std::uint8_t centiseconds) {
  if (date == 0 || centiseconds > kMostCentiseconds) return std::nullopt;
  CalendarTime calendar = calendar_date(date);
  add_clock(calendar, time);
  // Seconds 60 and above are impossible before the count is added; the count
  // then adds at most one more second (58 + 1.99 stays within the minute).
  if (!is_real_time(calendar)) return std::nullopt;
  calendar.second += centiseconds / 100;
  calendar.centiseconds = centiseconds % 100;
  return iso_date_time_text(calendar, std::nullopt);
}

FileDates fat_entry_dates_of(const Fat32DirectoryEntry& entry) {
  using namespace fat_entry_dates;
  FileDates dates;
  dates.modified = fat_date_time_text(field_le<std::uint16_t, kModifiedDate>(entry),
                                      field_le<std::uint16_t, kModifiedTime>(entry));
  dates.created =
      fat_date_time_text(field_le<std::uint16_t, kCreatedDate>(entry),
                         field_le<std::uint16_t, kCreatedTime>(entry), entry[kCreatedCentiseconds]);
  dates.accessed = fat_date_text(field_le<std::uint16_t, kAccessedDate>(entry));
  return dates;
}

}  // namespace kestrel
