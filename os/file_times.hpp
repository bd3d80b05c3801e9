#pragma once

#include <chrono>
#include <optional>

namespace kestrel {

// A moment as file systems keep it: a count since 1970-01-01 00:00 UTC.
using FileTime = std::chrono::sys_time<std::chrono::nanoseconds>;

// The times to give a file; an absent one is left as it is. The creation
// time is set only where the system lets a program set it (Windows).
struct FileTimes {
  std::optional<FileTime> modified;
  std::optional<FileTime> accessed;
  std::optional<FileTime> created;

  bool empty() const { return !modified && !accessed && !created; }
};

// The moment a local calendar reading stands for in this machine's time zone
// (its rules for that day, summer time included); nothing when the system
// cannot place it.
std::optional<std::chrono::sys_seconds> local_time_as_utc(int year, int month, int day, int hour,
                                                          int minute, int second);

}  // namespace kestrel
