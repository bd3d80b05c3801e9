#pragma once

#include <string_view>

namespace kestrel {

// The fixed error texts of partition-table detection, kept together for review.

// Invalid structure.
inline constexpr std::string_view kSectorSizeTooSmall = "logical sector size is smaller than 512";
inline constexpr std::string_view kTruncatedMbrEntry = "truncated MBR entry";
inline constexpr std::string_view kMissingGptSignature = "missing GPT signature";
inline constexpr std::string_view kInvalidGptHeaderSize = "invalid GPT header size";
inline constexpr std::string_view kInvalidGptEntrySize = "invalid GPT entry size";
inline constexpr std::string_view kReversedGptRange = "GPT partition range is reversed";
inline constexpr std::string_view kTruncatedGptName = "truncated GPT name";
inline constexpr std::string_view kInvalidGuidLength = "invalid GUID length";

// Checksum mismatch: which GPT structure failed its CRC-32.
inline constexpr std::string_view kGptHeaderChecksum = "GPT header";
inline constexpr std::string_view kGptEntryArrayChecksum = "GPT entry array";

// Unsupported.
inline constexpr std::string_view kGptEntryArrayTooLarge = "GPT entry array is too large";

}  // namespace kestrel
