#pragma once

#include <optional>
#include <string>

namespace kestrel {

// When a file was last changed, made and last read, as the record that
// describes it says: ISO 8601 text at the precision and with the zone that
// record really has ("2024-05-03T14:22:10", "2024-05-03T14:22:10.35+09:00",
// a date alone "2024-05-03"). Absent where the record holds no date, or one
// that cannot be real.
struct FileDates {
  std::optional<std::string> modified;
  std::optional<std::string> created;
  std::optional<std::string> accessed;

  friend bool operator==(const FileDates&, const FileDates&) = default;
};

}  // namespace kestrel
