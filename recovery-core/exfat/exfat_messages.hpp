#pragma once

#include <string_view>

namespace kestrel {

// The fixed texts of the exFAT scan, kept together for review and translation.

// Invalid-structure texts of the boot region checks.
inline constexpr std::string_view kInvalidExfatShifts = "invalid exFAT shifts";
inline constexpr std::string_view kExfatBootLayoutsDiffer =
    "exFAT main and backup boot layouts differ";
// What failed when neither boot region passes its checksum (a checksum-mismatch text).
inline constexpr std::string_view kExfatBootRegionsChecksum = "exFAT main and backup boot regions";

// The name shown for a deleted file whose name entries hold no character.
inline constexpr std::string_view kExfatUnnamedFile = "_deleted";

}  // namespace kestrel
