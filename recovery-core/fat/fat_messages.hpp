#pragma once

#include <array>
#include <string_view>

namespace kestrel {

// The fixed texts of the FAT32 scan, kept together for review and translation.

// Invalid-structure texts of the boot sector checks.
inline constexpr std::string_view kInvalidFat32Bpb = "invalid FAT32 BPB";
inline constexpr std::string_view kFat32DataAreaUnderflow = "FAT32 data area underflow";
inline constexpr std::string_view kFat16DataAreaUnderflow = "FAT16 data area underflow";
inline constexpr std::string_view kFat12DataAreaUnderflow = "FAT12 data area underflow";

// Invalid-structure texts of a cluster number outside the data area.
inline constexpr std::string_view kFat32ClusterOutsideDataArea = "FAT32 cluster outside data area";
inline constexpr std::string_view kFat16ClusterOutsideDataArea = "FAT16 cluster outside data area";
inline constexpr std::string_view kFat12ClusterOutsideDataArea = "FAT12 cluster outside data area";

// Added after the content notes of a candidate whose name came from its deleted
// long-name entries (in Korean, like every candidate note).
inline constexpr std::string_view kFat32LongNameNote =
    "삭제된 FAT32 긴 파일명 엔트리의 구조가 일관되고 공유 체크섬이 남은 short-name 바이트와 "
    "모순되지 않습니다.";
inline constexpr std::string_view kFat16LongNameNote =
    "삭제된 FAT16 긴 파일명 엔트리의 구조가 일관되고 공유 체크섬이 남은 short-name 바이트와 "
    "모순되지 않습니다.";
inline constexpr std::string_view kFat12LongNameNote =
    "삭제된 FAT12 긴 파일명 엔트리의 구조가 일관되고 공유 체크섬이 남은 short-name 바이트와 "
    "모순되지 않습니다.";

// The English warnings that close a FAT report, compared byte for byte by callers.

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

}  // namespace kestrel
