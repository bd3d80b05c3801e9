#pragma once

#include <array>
#include <string_view>

namespace kestrel {

// The fixed texts of the exFAT scan, kept together for review and translation.

// Invalid-structure texts of the boot region checks.
inline constexpr std::string_view kInvalidExfatShifts = "invalid exFAT shifts";
inline constexpr std::string_view kExfatBootLayoutsDiffer =
    "exFAT main and backup boot layouts differ";
// What failed when neither boot region passes its checksum (a checksum-mismatch text).
inline constexpr std::string_view kExfatBootRegionsChecksum = "exFAT main and backup boot regions";
// Invalid-structure text of a cluster number outside the heap.
inline constexpr std::string_view kExfatClusterOutsideHeap = "exFAT cluster outside heap";

// The name shown for a deleted file whose name entries hold no character.
inline constexpr std::string_view kExfatUnnamedFile = "_deleted";

// The English warnings of an exFAT report, compared byte for byte by callers.

// An exFAT report opens with one of these two when exactly one of its boot
// regions failed the checksum.
inline constexpr std::string_view kExfatMainInvalidWarning =
    "exFAT main boot checksum is invalid; the validated backup boot region is used.";
inline constexpr std::string_view kExfatBackupInvalidWarning =
    "exFAT main boot checksum is valid; backup boot checksum is invalid.";

// Every exFAT report ends with these two, in this order.
inline constexpr std::array<std::string_view, 2> kExfatWarnings = {
    "Complete preserved exFAT FAT chains are followed, including fragmented files.",
    "NoFatChain files and deleted files with cleared or incomplete FAT chains are recovered "
    "contiguously and remain an explicit limitation.",
};

}  // namespace kestrel
