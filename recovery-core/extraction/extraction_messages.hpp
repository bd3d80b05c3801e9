#pragma once

#include <string_view>

namespace kestrel {

// The fixed texts of extraction, kept together for review.

// Unsupported: a candidate without data to copy.
inline constexpr std::string_view kMetadataOnlyCandidate =
    "candidate has metadata only and cannot be recovered";
// Invalid structure: a candidate that claims bytes but no cluster size.
inline constexpr std::string_view kZeroClusterSize = "candidate cluster size is zero";
// Unsupported: a compressed file whose units are larger than any volume makes them.
inline constexpr std::string_view kCompressionUnitTooLarge = "compression unit is too large";

}  // namespace kestrel
