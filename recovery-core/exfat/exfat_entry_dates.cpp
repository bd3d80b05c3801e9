#include "recovery-core/exfat/exfat_entry_dates.hpp"

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/candidates/calendar_time.hpp"

namespace kestrel {

namespace {

constexpr int kMinutesPerStep = 15;
constexpr int kLowestStep = -48;  // -12:00
constexpr int kHighestStep = 56;  // +14:00

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
  // The date is the high half of the timestamp, the time the low half.
  return packed_date_time_text(static_cast<std::uint16_t>(timestamp >> 16),
                               static_cast<std::uint16_t>(timestamp & 0xFFFF), centiseconds,
                               exfat_utc_offset_minutes(offset));
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
