#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "recovery-core/candidates/file_dates.hpp"
#include "recovery-core/fat/fat_directory_entry.hpp"

namespace kestrel {

// Where a short entry keeps its dates. Each is local time with no zone, a
// date and a time packed as DOS does: the date as years since 1980 (7 bits),
// month (4) and day (5); the time as hours (5), minutes (6) and seconds
// halved (5). Creation adds a count of 10 ms (0..199) to its 2 s; the last
// access is a date alone.
namespace fat_entry_dates {
inline constexpr std::size_t kCreatedCentiseconds = 13;  // u8
inline constexpr std::size_t kCreatedTime = 14;          // u16
inline constexpr std::size_t kCreatedDate = 16;          // u16
inline constexpr std::size_t kAccessedDate = 18;         // u16
inline constexpr std::size_t kModifiedTime = 22;         // u16
inline constexpr std::size_t kModifiedDate = 24;         // u16
}  // namespace fat_entry_dates

// "2024-05-03", or nothing for a zero or impossible date (month 13, day 32).
std::optional<std::string> fat_date_text(std::uint16_t date);

// "2024-05-03T14:22:10", the 10 ms count added when given ("...T14:22:11.35").
// Nothing when the date is zero or impossible, the time impossible (hour 24,
// second 60) or the count above 199. A zero time is midnight.
std::optional<std::string> fat_date_time_text(std::uint16_t date, std::uint16_t time,
                                              std::uint8_t centiseconds = 0);

// The three dates of a short entry.
FileDates fat_entry_dates_of(const Fat32DirectoryEntry& entry);

}  // namespace kestrel
