#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/partition/partition_table.hpp"
#include "recovery-core/progress/progress_sink.hpp"
#include "recovery-core/scan/report_sink.hpp"
#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/volume/scan_options.hpp"

namespace kestrel {

// A report for each partition of the table that begins inside the source, in
// table order: what file system it holds, whether its boot structures check
// out, and its deleted files as candidates. Any error ends the scan as a
// whole; reports already made are dropped. `options` widen what the scan
// looks at (see ScanOptions); damage met only by those wider walks never fails
// the scan. With `options.carve`, each report also lists the files found by
// their content in the volume's free clusters (or in the whole partition when
// it holds no known file system), after the directory scan's; that search
// reports its progress through `progress`.
std::expected<std::vector<FilesystemReport>, RecoveryError> scan_filesystems(
    ByteSource& source, std::uint64_t source_length, const PartitionTable& table,
    const ScanOptions& options = {}, const ProgressSink& progress = {});

// The same scan, handing each report to `sink` as it is made instead of
// holding them (see ReportSink). An error may come after reports and
// candidates were handed over; the caller decides what becomes of those.
// A Stop from the sink ends the scan without an error.
std::expected<void, RecoveryError> stream_filesystems(ByteSource& source,
                                                      std::uint64_t source_length,
                                                      const PartitionTable& table, ReportSink& sink,
                                                      const ScanOptions& options = {},
                                                      const ProgressSink& progress = {});

}  // namespace kestrel
