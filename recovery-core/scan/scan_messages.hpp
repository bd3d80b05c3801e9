#pragma once

#include <array>
#include <string_view>

namespace kestrel {

// The English warnings of the file-system reports, kept together for review
// and translation. Callers compare them byte for byte.

// The only warning of a partition that is neither FAT32 nor exFAT.
inline constexpr std::string_view kNoSignatureWarning = "FAT32/exFAT signature not found";

// Every FAT32 report ends with these four, in this order.
inline constexpr std::array<std::string_view, 4> kFat32Warnings = {
    "Deleted FAT32 long-file-name entries are used only when their structure is consistent and "
    "their shared checksum is compatible with the retained short-name bytes.",
    "Complete preserved FAT32 FAT chains are followed, including fragmented files.",
    "Deleted files with cleared or incomplete FAT chains are recovered contiguously and remain an "
    "explicit limitation.",
    "If FAT32 deletion cleared a starting cluster's high word, consecutive deleted entries are "
    "used to reconstruct the smallest plausible cluster number.",
};

// Every FAT16 report ends with these three, in this order; a FAT12 report
// with the same three naming FAT12. Their entries hold the whole start
// cluster, so nothing is said about high words.
inline constexpr std::array<std::string_view, 3> kFat16Warnings = {
    "Deleted FAT16 long-file-name entries are used only when their structure is consistent and "
    "their shared checksum is compatible with the retained short-name bytes.",
    "Complete preserved FAT16 FAT chains are followed, including fragmented files.",
    "Deleted files with cleared or incomplete FAT chains are recovered contiguously and remain an "
    "explicit limitation.",
};
inline constexpr std::array<std::string_view, 3> kFat12Warnings = {
    "Deleted FAT12 long-file-name entries are used only when their structure is consistent and "
    "their shared checksum is compatible with the retained short-name bytes.",
    "Complete preserved FAT12 FAT chains are followed, including fragmented files.",
    "Deleted files with cleared or incomplete FAT chains are recovered contiguously and remain an "
    "explicit limitation.",
};

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
