#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "recovery-core/candidates/file_dates.hpp"
#include "recovery-core/ntfs/ntfs_record.hpp"

namespace kestrel {

// A time as NTFS stores it (100 ns since 1601-01-01 UTC) as ISO 8601 UTC text,
// with the fraction to the last digit that is not zero ("2024-05-03T05:22:10.1234567Z").
// Nothing for zero or a year past 9999.
std::optional<std::string> ntfs_time_text(std::uint64_t stored);

// The dates $STANDARD_INFORMATION records (changed, made, read); none when the
// record has no such attribute.
FileDates ntfs_record_dates(const NtfsRecord& record);

}  // namespace kestrel
