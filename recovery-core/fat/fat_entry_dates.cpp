#include "recovery-core/fat/fat_entry_dates.hpp"

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/candidates/calendar_time.hpp"

namespace kestrel {

std::optional<std::string> fat_date_text(std::uint16_t date) {
  if (date == 0) return std::nullopt;
  return iso_date_text(packed_calendar(date, 0));
}

std::optional<std::string> fat_date_time_text(std::uint16_t date, std::uint16_t time,
                                              std::uint8_t centiseconds) {
  // FAT keeps local time and no zone.
  return packed_date_time_text(date, time, centiseconds, std::nullopt);
}

FileDates fat_entry_dates_of(const Fat32DirectoryEntry& entry) {
  using namespace fat_entry_dates;
  FileDates dates;
  dates.modified = fat_date_time_text(field_le<std::uint16_t, kModifiedDate>(entry),
                                      field_le<std::uint16_t, kModifiedTime>(entry));
  dates.created =
      fat_date_time_text(field_le<std::uint16_t, kCreatedDate>(entry),
                         field_le<std::uint16_t, kCreatedTime>(entry), entry[kCreatedCentiseconds]);
  dates.accessed = fat_date_text(field_le<std::uint16_t, kAccessedDate>(entry));
  return dates;
}

}  // namespace kestrel
