#include "cli/recovered_file_times.hpp"

#include "recovery-core/candidates/calendar_time.hpp"

namespace kestrel {

namespace {

using std::chrono::hours;
using std::chrono::minutes;
using std::chrono::nanoseconds;
using std::chrono::seconds;

std::optional<std::chrono::sys_seconds> moment_of(const ParsedIsoTime& parsed) {
  const CalendarTime& time = parsed.time;
  if (!parsed.utc_offset_minutes) {
    return local_time_as_utc(time.year, time.month, time.day, time.hour, time.minute, time.second);
  }
  const std::chrono::year_month_day day{std::chrono::year(time.year),
                                        std::chrono::month(static_cast<unsigned>(time.month)),
                                        std::chrono::day(static_cast<unsigned>(time.day))};
  const std::chrono::sys_seconds local_reading =
      std::chrono::sys_days(day) + hours(time.hour) + minutes(time.minute) + seconds(time.second);
  return local_reading - minutes(*parsed.utc_offset_minutes);
}

std::optional<FileTime> file_time_of(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const std::optional<ParsedIsoTime> parsed = parse_iso_time(*text);
  if (!parsed) return std::nullopt;
  const std::optional<std::chrono::sys_seconds> moment = moment_of(*parsed);
  if (!moment) return std::nullopt;
  return FileTime(*moment) + nanoseconds(parsed->nanoseconds);
}

}  // namespace

FileTimes recovered_file_times(const FileDates& dates) {
  FileTimes times;
  times.modified = file_time_of(dates.modified);
  times.accessed = file_time_of(dates.accessed);
  times.created = file_time_of(dates.created);
  return times;
}

}  // namespace kestrel
