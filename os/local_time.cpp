#include <ctime>

#include "os/file_times.hpp"

namespace kestrel {

// mktime reads the calendar in the process's zone and settles on summer time
// by itself (tm_isdst = -1). An hour that the zone skips is moved on by it,
// which is the nearest real moment.
std::optional<std::chrono::sys_seconds> local_time_as_utc(int year, int month, int day, int hour,
                                                          int minute, int second) {
  std::tm calendar{};
  calendar.tm_year = year - 1900;
  calendar.tm_mon = month - 1;
  calendar.tm_mday = day;
  calendar.tm_hour = hour;
  calendar.tm_min = minute;
  calendar.tm_sec = second;
  calendar.tm_isdst = -1;
  const std::time_t moment = std::mktime(&calendar);
  if (moment == static_cast<std::time_t>(-1)) return std::nullopt;
  return std::chrono::sys_seconds(std::chrono::seconds(moment));
}

}  // namespace kestrel
