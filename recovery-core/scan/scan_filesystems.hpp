#pragma once

#include <cstdint>
#include <expected>
#include <string_view>
#include <vector>

#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/partition/partition_table.hpp"
#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

inline constexpr std::string_view kNoSignatureWarning = "FAT32/exFAT signature not found";

// The fixed notes of every FAT32 report, in order.
inline constexpr std::string_view kFat32Warnings[] = {
    "Deleted FAT32 long-file-name entries are used only when their structure is consistent and "
    "their shared checksum is compatible with the retained short-name bytes.",
    "Complete preserved FAT32 FAT chains are followed, including fragmented files.",
    "Deleted files with cleared or incomplete FAT chains are recovered contiguously and remain an "
    "explicit limitation.",
    "If FAT32 deletion cleared a starting cluster's high word, consecutive deleted entries are "
    "used to reconstruct the smallest plausible cluster number.",
};

// The fixed notes of every exFAT report, after its boot warning if any.
inline constexpr std::string_view kExfatWarnings[] = {
    "Complete preserved exFAT FAT chains are followed, including fragmented files.",
    "NoFatChain files and deleted files with cleared or incomplete FAT chains are recovered "
    "contiguously and remain an explicit limitation.",
};

// Recognises the file system of every partition that starts inside the
// source, validates its boot structures and scans it for deleted files. One
// report per such partition, in table order; the first error ends the whole
// scan and no report is returned.
std::expected<std::vector<FilesystemReport>, RecoveryError> scan_filesystems(
    ByteSource& source, std::uint64_t source_length, const PartitionTable& table);

}  // namespace kestrel
