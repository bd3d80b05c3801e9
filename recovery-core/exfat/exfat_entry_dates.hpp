#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "recovery-core/candidates/file_dates.hpp"

namespace kestrel {

// Where a File entry keeps its dates. Each timestamp is 32 bits: a DOS time
// in the low half (hours, minutes, seconds halved) and a DOS date in the high
// half (years since 1980, month, day). Creation and modification add a count
// of 10 ms (0..199); each of the three has a UTC-offset byte whose top bit
// says it is valid and whose low seven bits are a signed count of 15 minutes.
namespace exfat_entry_dates {
inline constexpr std::size_t kCreated = 8;                // u32
inline constexpr std::size_t kModified = 12;              // u32
inline constexpr std::size_t kAccessed = 16;              // u32
inline constexpr std::size_t kCreatedCentiseconds = 20;   // u8
inline constexpr std::size_t kModifiedCentiseconds = 21;  // u8
inline constexpr std::size_t kCreatedUtcOffset = 22;      // u8
inline constexpr std::size_t kModifiedUtcOffset = 23;     // u8
inline constexpr std::size_t kAccessedUtcOffset = 24;     // u8
inline constexpr std::uint8_t kUtcOffsetValidBit = 0x80;
}  // namespace exfat_entry_dates

// The offset in minutes an offset byte gives: only with its valid bit set and
// within the -12:00..+14:00 the format allows; nothing otherwise (the time is
// then local with no zone).
std::optional<int> exfat_utc_offset_minutes(std::uint8_t offset);

// "2024-05-03T14:22:10.35+09:00" from one timestamp, its 10 ms count and its
// offset byte; without a zone when the offset is not valid. Nothing when the
// date is zero or impossible, the time impossible or the count above 199.
std::optional<std::string> exfat_timestamp_text(std::uint32_t timestamp, std::uint8_t centiseconds,
                                                std::uint8_t offset);

// The three dates of a set's File entry (its first 32 bytes); all absent when
// the set is shorter than that.
FileDates exfat_entry_dates_of(std::span<const std::uint8_t> set);

}  // namespace kestrel
