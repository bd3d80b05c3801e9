#include <windows.h>

#include "os/file_handle.hpp"
#include "os/os_error.hpp"

namespace kestrel {

namespace {

// 100 ns units since 1601-01-01 UTC, the count a FILETIME holds.
constexpr std::int64_t kUnitsFrom1601To1970 = 116'444'736'000'000'000;

std::optional<FILETIME> filetime_of(const std::optional<FileTime>& time) {
  if (!time) return std::nullopt;
  const auto units =
      std::chrono::floor<std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>>(
          time->time_since_epoch())
          .count() +
      kUnitsFrom1601To1970;
  if (units < 0) return std::nullopt;
  FILETIME filetime{};
  filetime.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(units) & 0xFFFF'FFFFu);
  filetime.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(units) >> 32);
  return filetime;
}

}  // namespace

// SetFileTime acts on the open file itself; a null time is left unchanged.
std::expected<void, SourceError> FileHandle::set_times(const FileTimes& times) {
  if (times.empty()) return {};
  const std::optional<FILETIME> created = filetime_of(times.created);
  const std::optional<FILETIME> accessed = filetime_of(times.accessed);
  const std::optional<FILETIME> modified = filetime_of(times.modified);
  if (!::SetFileTime(native_, created ? &*created : nullptr, accessed ? &*accessed : nullptr,
                     modified ? &*modified : nullptr)) {
    return std::unexpected(last_io_error());
  }
  return {};
}

}  // namespace kestrel
