#include "recovery-core/ntfs/ntfs_times.hpp"

#include <array>
#include <chrono>
#include <cstdio>

#include "recovery-core/bytes/little_endian.hpp"

namespace kestrel {

namespace {

constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::uint64_t kTicksPerDay = kTicksPerSecond * 86'400;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kDaysBeforeUnixEpoch = 134'774;
// 10000-01-01 in days since 1601-01-01: later times are not dates anyone wrote.
constexpr std::uint64_t kDaysBeforeYear10000 = 3'067'671;

}  // namespace

std::optional<std::string> ntfs_time_text(std::uint64_t stored) {
  if (stored == 0) return std::nullopt;
  const std::uint64_t days = stored / kTicksPerDay;
  if (days >= kDaysBeforeYear10000) return std::nullopt;
  const std::uint64_t in_day = stored % kTicksPerDay;
  const std::chrono::year_month_day date{std::chrono::sys_days{
      std::chrono::days{static_cast<std::int64_t>(days) - kDaysBeforeUnixEpoch}}};
  const std::uint64_t seconds = in_day / kTicksPerSecond;
  std::uint64_t fraction = in_day % kTicksPerSecond;
  std::array<char, 64> text{};
  int length = std::snprintf(
      text.data(), text.size(), "%04d-%02u-%02uT%02u:%02u:%02u", int{date.year()},
      unsigned{date.month()}, unsigned{date.day()}, static_cast<unsigned>(seconds / 3600),
      static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
  if (fraction != 0) {
    int digits = 7;
    while (fraction % 10 == 0) {
      fraction /= 10;
      --digits;
    }
    length += std::snprintf(text.data() + length, text.size() - static_cast<std::size_t>(length),
                            ".%0*u", digits, static_cast<unsigned>(fraction));
  }
  return std::string(text.data(), static_cast<std::size_t>(length)) + "Z";
}

FileDates ntfs_record_dates(const NtfsRecord& record) {
  const NtfsAttribute* information = record.first(NtfsAttributeType::StandardInformation);
  if (information == nullptr || !information->resident || information->value.size() < 32) {
    return {};
  }
  const auto time_at = [&](std::size_t offset) {
    return ntfs_time_text(read_u64_le(information->value, offset).value_or(0));
  };
  return FileDates{time_at(8), time_at(0), time_at(24)};
}

}  // namespace kestrel
