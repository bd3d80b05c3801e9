#include "recovery-core/scan/scan_filesystems.hpp"

#include <optional>
#include <span>
#include <string_view>

#include "recovery-core/exfat/exfat_boot_region.hpp"
#include "recovery-core/exfat/exfat_directory.hpp"
#include "recovery-core/exfat/exfat_tree_walk.hpp"
#include "recovery-core/fat32/fat32_boot_sector.hpp"
#include "recovery-core/fat32/fat32_directory.hpp"
#include "recovery-core/scan/scan_messages.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

// The warning that says which exFAT boot region failed its checksum, if one did.
std::optional<std::string_view> boot_region_warning(const BootValidation& validation) {
  if (!validation.main_boot_checksum_valid.value_or(true)) return kExfatMainInvalidWarning;
  if (!validation.backup_boot_checksum_valid.value_or(true)) return kExfatBackupInvalidWarning;
  return std::nullopt;
}

// Passes candidates on to the report sink and remembers whether it asked to stop.
class StopWatch final : public CandidateSink {
 public:
  explicit StopWatch(ReportSink& sink) : sink_(sink) {}

  SinkReply accept(RecoveryCandidate candidate) override {
    if (sink_.accept(std::move(candidate)) == SinkReply::Stop) stopped_ = true;
    return stopped_ ? SinkReply::Stop : SinkReply::Continue;
  }
  bool stopped() const { return stopped_; }

 private:
  ReportSink& sink_;
  bool stopped_ = false;
};

// Hands over the report's members, walks its volume into the sink, closes it.
template <typename Walk>
std::expected<void, RecoveryError> walk_report(const FilesystemReport& report, ReportSink& sink, StopWatch& watch,
                                               Walk&& walk) {
  sink.begin_report(report);
  auto walked = walk(watch);
  sink.end_report(report);
  return walked;
}

std::expected<void, RecoveryError> scan_fat32(ByteSource& source, std::span<const std::uint8_t> sector,
                                              std::uint64_t partition_offset, std::uint32_t partition_index,
                                              std::uint64_t source_length, const ScanOptions& options,
                                              ReportSink& sink, StopWatch& watch) {
  auto boot = read_fat32_boot_sector(sector, partition_offset, partition_index, source_length);
  if (!boot) return std::unexpected(boot.error());
  FilesystemReport report;
  report.partition_index = partition_index;
  report.kind = FilesystemKind::Fat32;
  report.label = std::move(boot->label);
  report.warnings.assign(std::begin(kFat32Warnings), std::end(kFat32Warnings));
  const Fat32Walk walk = options.all_directories ? Fat32Walk::AllDirectories : Fat32Walk::LiveTree;
  return walk_report(report, sink, watch, [&](CandidateSink& candidates) {
    return scan_fat32_volume(source, boot->volume, boot->root_cluster, candidates, walk);
  });
}

std::expected<void, RecoveryError> scan_exfat(ByteSource& source, std::span<const std::uint8_t> sector,
                                              std::uint64_t partition_offset, std::uint32_t partition_index,
                                              std::uint64_t source_length, const ScanOptions& options,
                                              ReportSink& sink, StopWatch& watch) {
  auto boot = read_exfat_boot_region(source, sector, partition_offset, source_length);
  if (!boot) return std::unexpected(boot.error());
  FilesystemReport report;
  report.partition_index = partition_index;
  report.kind = FilesystemKind::Exfat;
  report.validation = boot->validation;
  if (auto warning = boot_region_warning(boot->validation)) report.warnings.emplace_back(*warning);
  report.warnings.insert(report.warnings.end(), std::begin(kExfatWarnings), std::end(kExfatWarnings));
  const auto scan = options.all_directories ? scan_exfat_tree : scan_exfat_root;
  return walk_report(report, sink, watch, [&](CandidateSink& candidates) {
    return scan(source, boot->volume, partition_index, boot->root_cluster, candidates);
  });
}

void report_unknown(std::uint32_t partition_index, ReportSink& sink) {
  FilesystemReport report;
  report.partition_index = partition_index;
  report.kind = FilesystemKind::Unknown;
  report.warnings.emplace_back(kNoSignatureWarning);
  sink.begin_report(report);
  sink.end_report(report);
}

// Keeps every report with its candidates.
class ReportCollector final : public ReportSink {
 public:
  explicit ReportCollector(std::vector<FilesystemReport>& reports) : reports_(reports) {}

  void begin_report(const FilesystemReport& report) override { reports_.push_back(report); }
  SinkReply accept(RecoveryCandidate candidate) override {
    reports_.back().candidates.push_back(std::move(candidate));
    return SinkReply::Continue;
  }
  void end_report(const FilesystemReport&) override {}

 private:
  std::vector<FilesystemReport>& reports_;
};

}  // namespace

std::expected<void, RecoveryError> stream_filesystems(ByteSource& source, std::uint64_t source_length,
                                                      const PartitionTable& table, ReportSink& sink,
                                                      const ScanOptions& options) {
  std::vector<std::uint8_t> sector(table.logical_sector_size);
  StopWatch watch(sink);
  for (const PartitionEntry& partition : table.partitions) {
    auto offset = checked_mul(partition.start_lba, table.logical_sector_size);
    if (!offset) return std::unexpected(offset.error());
    if (*offset >= source_length) continue;
    if (auto read = read_exact(source, *offset, sector); !read) return std::unexpected(read.error());

    std::expected<void, RecoveryError> scanned;
    if (is_exfat_boot_sector(sector)) {
      scanned = scan_exfat(source, sector, *offset, partition.index, source_length, options, sink, watch);
    } else if (is_fat32_boot_sector(sector)) {
      scanned = scan_fat32(source, sector, *offset, partition.index, source_length, options, sink, watch);
    } else {
      report_unknown(partition.index, sink);
    }
    if (!scanned) return std::unexpected(scanned.error());
    if (watch.stopped()) break;
  }
  return {};
}

std::expected<std::vector<FilesystemReport>, RecoveryError> scan_filesystems(
    ByteSource& source, std::uint64_t source_length, const PartitionTable& table, const ScanOptions& options) {
  std::vector<FilesystemReport> reports;
  ReportCollector collector(reports);
  if (auto scanned = stream_filesystems(source, source_length, table, collector, options); !scanned) {
    return std::unexpected(scanned.error());
  }
  return reports;
}

}  // namespace kestrel
