#include "recovery-core/exfat/exfat_entry_dates.hpp"

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/candidates/calendar_time.hpp"

namespace kestrel {

namespace {

constexpr int kFirstYear = 1980;
constexpr int kMostCentiseconds = 199;
constexpr int kMinutesPerStep = 15;
constexpr int kLowestStep = -48;  // -12:00
constexpr int kHighestStep = 56;  // +14:00

CalendarTime calendar_of(std::uint32_t timestamp) {
  const std::uint32_t date = timestamp >> 16;
  const std::uint32_t time = timestamp & 0xFFFF;
  CalendarTime calendar;
  calendar.year = kFirstYear + static_cast<int>(date >> 9);
  calendar.month = static_cast<int>((date >> 5) & 0x0F);
  calendar.day = static_cast<int>(date & 0x1F);
  calendar.hour = static_cast<int>(time >> 11);
  calendar.minute = static_cast<int>((time >> 5) & 0x3F);
  calendar.second = static_cast<int>(time & 0x1F) * 2;
  return calendar;
}

std::uint8_t byte_at(std::span<const std::uint8_t> set, std::size_t offset) {
  return read_u8(set, offset).value_or(0);
}

}  // namespace

std::optional<int> exfat_utc_offset_minutes(std::uint8_t offset) {
  using exfat_entry_dates::kUtcOffsetValidBit;
  if ((offset & kUtcOffsetValidBit) == 0) return std::nullopt;
  int steps = offset & 0x7F;
  if (steps >= 0x40) steps -= 0x80;  // seven-bit two's complement
  if (steps < kLowestStep || steps > kHighestStep) return std::nullopt;
  return steps * kMinutesPerStep;
}

std::optional<std::string> exfat_timestamp_text(std::uint32_t timestamp, std::uint8_t centiseconds,
                                                std::uint8_t offset) {
  if ((timestamp >> 16) == 0 || centiseconds > kMostCentiseconds) return std::nullopt;
  CalendarTime calendar = calendar_of(timestamp);
  if (!is_real_time(calendar)) return std::nullopt;
  calendar.second += centiseconds / 100;
  calendar.centiseconds = centiseconds % 100;
  return iso_date_time_text(calendar, exfat_utc_offset_minutes(offset));
}

FileDates exfat_entry_dates_of(std::span<const std::uint8_t> set) {
  using namespace exfat_entry_dates;
  FileDates dates;
  auto stamp = [&](std::size_t at) { return read_u32_le(set, at); };
  if (auto modified = stamp(kModified)) {
    dates.modified = exfat_timestamp_text(*modified, byte_at(set, kModifiedCentiseconds),
                                          byte_at(set, kModifiedUtcOffset));
  }
  if (auto created = stamp(kCreated)) {
    dates.created = exfat_timestamp_text(*created, byte_at(set, kCreatedCentiseconds),
                                         byte_at(set, kCreatedUtcOffset));
  }
  if (auto accessed = stamp(kAccessed))
    dates.accessed = exfat_timestamp_text(*accessed, 0, byte_at(set, kAccessedUtcOffset));
  return dates;
}

}  // namespace kestrel
