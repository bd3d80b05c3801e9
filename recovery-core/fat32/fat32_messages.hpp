#pragma once

#include <string_view>

namespace kestrel {

// The fixed texts of the FAT32 scan, kept together for review and translation.

// Invalid-structure texts of the boot sector checks.
inline constexpr std::string_view kInvalidFat32Bpb = "invalid FAT32 BPB";
inline constexpr std::string_view kFat32DataAreaUnderflow = "FAT32 data area underflow";
inline constexpr std::string_view kFat16DataAreaUnderflow = "FAT16 data area underflow";
inline constexpr std::string_view kFat12DataAreaUnderflow = "FAT12 data area underflow";

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

}  // namespace kestrel
