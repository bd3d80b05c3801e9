#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/partition/partition_table.hpp"
#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// Recognises the file system of every partition that starts inside the
// source, validates its boot structures and scans it for deleted files. One
// report per such partition, in table order; the first error ends the whole
// scan and no report is returned.
std::expected<std::vector<FilesystemReport>, RecoveryError> scan_filesystems(
    ByteSource& source, std::uint64_t source_length, const PartitionTable& table);

}  // namespace kestrel
