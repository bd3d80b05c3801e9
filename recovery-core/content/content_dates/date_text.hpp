#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "recovery-core/candidates/calendar_time.hpp"

namespace kestrel {

// How much of a reading a record holds, from the year down: a PDF date may
// stop after any field.
enum class DateFields { Year, Month, Day, Hour, Minute, Second };

// The zone a reading is given in: none (a local reading), UTC written "Z", or
// an offset east of UTC.
struct DateZone {
  enum class Mark { Local, Utc, Offset };
  Mark mark = Mark::Local;
  int minutes = 0;
};

// The reading as ISO 8601 text of just the fields it holds: "2024",
// "2024-05", "2024-05-03", "2024-05-03T14", "2024-05-03T14:22",
// "2024-05-03T14:22:10", and with a time of day its zone ("Z", "+09:00").
// Nothing when a field cannot be real: a year outside 1..9999 (no record uses
// year 0 for a real date), a day its month lacks, a clock past 23:59:59, an
// offset beyond 14 hours.
std::optional<std::string> reading_text(const CalendarTime& time, DateFields fields, DateZone zone);

// A count of seconds since 1904-01-01 00:00 UTC (the ISO media clock) as
// "2024-05-03T05:22:10Z"; nothing for 0 (no time recorded) or a moment past
// the year 9999.
std::optional<std::string> seconds_since_1904_text(std::uint64_t seconds);

// Whether `text` is a date in the W3C form office documents write,
// "YYYY[-MM[-DD[Thh:mm[:ss[.digits]][Z|+hh:mm|-hh:mm]]]]", of a reading that
// can be real by the rules of reading_text.
bool is_w3c_date_text(std::string_view text);

}  // namespace kestrel
