#pragma once

#include <string_view>

namespace kestrel {

// The fixed texts of the NTFS reader, kept together for review. Callers and
// tests compare them byte for byte.

// Invalid structure: a boot sector or MFT no formatter writes.
inline constexpr std::string_view kNtfsNotBootSector = "not an NTFS boot sector";
inline constexpr std::string_view kNtfsBadSectorSize =
    "NTFS bytes per sector must be a power of two from 256 to 4096";
inline constexpr std::string_view kNtfsBadClusterSize =
    "NTFS cluster size must be a power of two up to 2 MiB";
inline constexpr std::string_view kNtfsBadRecordSize =
    "NTFS MFT record size must be a power of two from 256 bytes to 64 KiB";
inline constexpr std::string_view kNtfsBadTotalSectors = "NTFS total sector count is invalid";
inline constexpr std::string_view kNtfsMftOutsideVolume = "NTFS MFT cluster is outside the volume";
inline constexpr std::string_view kNtfsVolumeOutsideSource =
    "NTFS volume extends past the end of the image";
inline constexpr std::string_view kNtfsMftUnreadable =
    "NTFS MFT record 0 and its mirror copy are both unreadable";
inline constexpr std::string_view kNtfsRecordOutsideMft = "NTFS MFT record is outside the MFT";
inline constexpr std::string_view kNtfsReadPastStream = "NTFS stream read is outside its runs";

// Report warnings.
inline constexpr std::string_view kNtfsRunsWarning =
    "Deleted NTFS files are read from the data runs their MFT records still hold, resident, "
    "sparse and compressed data included.";
inline constexpr std::string_view kNtfsEncryptedWarning =
    "Encrypted NTFS files are listed but not recovered.";
inline constexpr std::string_view kNtfsBackupBootWarning =
    "NTFS main boot sector is damaged; the backup boot sector at the end of the volume was used.";
inline constexpr std::string_view kNtfsMirrorWarning =
    "NTFS MFT record 0 is damaged; its copy in $MFTMirr was used.";
inline constexpr std::string_view kNtfsMftElsewhereWarning =
    "The NTFS MFT continues in extents its first record does not list; records there were not "
    "read.";
// Followed by the count and kNtfsDamagedRecordsWarningTail.
inline constexpr std::string_view kNtfsDamagedRecordsWarningHead = "NTFS MFT records skipped: ";
inline constexpr std::string_view kNtfsDamagedRecordsWarningTail =
    " failed their update sequence check.";

// Candidate notes, after the content check's.
inline constexpr std::string_view kNtfsDataRunsNote =
    "삭제된 MFT 레코드에 파일의 모든 조각(데이터 런)이 남아 있어 그 위치에서 읽습니다.";
inline constexpr std::string_view kNtfsResidentNote =
    "파일 데이터가 MFT 레코드 안에 들어 있어 레코드에서 그대로 읽습니다.";
inline constexpr std::string_view kNtfsCompressedNote =
    "NTFS 압축(LZNT1) 파일이라 압축 단위마다 풀어서 복구합니다.";
inline constexpr std::string_view kNtfsSparseNote =
    "스파스 파일이라 디스크에 할당되지 않은 구간은 0으로 채웁니다.";
inline constexpr std::string_view kNtfsUninitializedNote =
    "유효 데이터 길이 뒤의 바이트는 기록된 적이 없어 0으로 채웁니다.";
inline constexpr std::string_view kNtfsReusedClustersNote =
    "데이터 런이 가리키는 클러스터 일부를 지금은 다른 파일이 쓰고 있어 내용이 바뀌었을 수 "
    "있습니다.";
inline constexpr std::string_view kNtfsSharedClustersNote =
    "삭제된 다른 파일의 데이터 런도 같은 클러스터를 가리키고 있어, 둘 중 나중에 쓰인 파일이 "
    "이 파일의 내용을 덮어썼을 수 있습니다.";
inline constexpr std::string_view kNtfsEncryptedNote =
    "EFS로 암호화된 파일이라 키 없이는 내용을 되살릴 수 없어 복구하지 않습니다.";
inline constexpr std::string_view kNtfsRunsUnreadableNote =
    "데이터 런 목록이 손상되어 파일 데이터의 위치를 알 수 없습니다.";
inline constexpr std::string_view kNtfsRunsElsewhereNote =
    "데이터 런의 나머지가 다른 MFT 레코드에 있어 그 레코드를 읽지 못했습니다.";
inline constexpr std::string_view kNtfsTooLargeNote =
    "MFT 레코드가 말하는 파일 크기가 볼륨보다 커서 믿을 수 없습니다.";
inline constexpr std::string_view kNtfsLostFolderNote =
    "상위 폴더의 MFT 레코드가 다른 파일에 다시 쓰였거나 읽을 수 없어 폴더 경로를 알 수 "
    "없습니다.";
inline constexpr std::string_view kNtfsDeletedFolderNote = "삭제된 폴더 안에 있던 파일입니다.";

}  // namespace kestrel
