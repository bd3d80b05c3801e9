#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "os/file_handle.hpp"
#include "os/os_error.hpp"

namespace kestrel {

namespace {

timespec timespec_of(const std::optional<FileTime>& time) {
  timespec stamp{};
  if (!time) {
    stamp.tv_nsec = UTIME_OMIT;
    return stamp;
  }
  const auto since_epoch = time->time_since_epoch();
  auto seconds = std::chrono::floor<std::chrono::seconds>(since_epoch);
  stamp.tv_sec = static_cast<time_t>(seconds.count());
  stamp.tv_nsec = static_cast<long>((since_epoch - seconds).count());
  return stamp;
}

}  // namespace

// futimens acts on the open file itself, so no name is looked up again and
// no link can lead elsewhere. Linux keeps no creation time a program may set.
std::expected<void, SourceError> FileHandle::set_times(const FileTimes& times) {
  if (!times.modified && !times.accessed) return {};
  const timespec stamps[2] = {timespec_of(times.accessed), timespec_of(times.modified)};
  if (::futimens(native_, stamps) != 0) return std::unexpected(last_io_error());
  return {};
}

}  // namespace kestrel
