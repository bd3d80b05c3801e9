#include "recovery-core/scan/scan_filesystems.hpp"

#include <algorithm>
#include <optional>
#include <span>
#include <string_view>

#include "recovery-core/candidates/candidate_builder.hpp"
#include "recovery-core/carving/free_space_carving.hpp"
#include "recovery-core/carving/known_file_starts.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/exfat/exfat_boot_region.hpp"
#include "recovery-core/exfat/exfat_directory.hpp"
#include "recovery-core/exfat/exfat_tree_walk.hpp"
#include "recovery-core/fat32/fat12_16_boot_sector.hpp"
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
std::expected<void, RecoveryError> walk_report(const FilesystemReport& report, ReportSink& sink,
                                               StopWatch& watch, Walk&& walk) {
  sink.begin_report(report);
  auto walked = walk(watch);
  sink.end_report(report);
  return walked;
}

// The directory walk, then, with carving, the search of the free space for
// files no entry describes (those the walk found are passed over).
template <typename Walk, typename Carve>
std::expected<void, RecoveryError> walk_then_carve(CandidateSink& candidates, bool carve,
                                                   Walk&& walk, Carve&& carve_free_space) {
  KnownFileStarts walked_files(candidates);
  if (auto walked = walk(walked_files); !walked) return walked;
  if (!carve || walked_files.stopped()) return {};
  KESTREL_TRY_ASSIGN(carved, carve_free_space(walked_files.sorted(), candidates));
  return {};
}

// The closing warnings of a FAT report.
std::vector<std::string> fat_warnings(FatWidth width) {
  switch (width) {
    case FatWidth::Fat12:
      return {std::begin(kFat12Warnings), std::end(kFat12Warnings)};
    case FatWidth::Fat16:
      return {std::begin(kFat16Warnings), std::end(kFat16Warnings)};
    case FatWidth::Fat32:
      break;
  }
  return {std::begin(kFat32Warnings), std::end(kFat32Warnings)};
}

// A FAT12, FAT16 or FAT32 volume whose boot sector was read into `boot`.
std::expected<void, RecoveryError> scan_fat(ByteSource& source, Fat32BootSector boot,
                                            const ScanOptions& options,
                                            const ProgressSink& progress, ReportSink& sink,
                                            StopWatch& watch) {
  FilesystemReport report;
  report.partition_index = boot.volume.partition_index;
  report.kind = kind_of(boot.volume);
  report.label = std::move(boot.label);
  report.warnings = fat_warnings(boot.volume.width);
  const Fat32Walk walk = options.all_directories ? Fat32Walk::AllDirectories : Fat32Walk::LiveTree;
  return walk_report(report, sink, watch, [&](CandidateSink& candidates) {
    return walk_then_carve(
        candidates, options.carve,
        [&](CandidateSink& walked) {
          return scan_fat32_volume(source, boot.volume, boot.root_cluster, walked, walk);
        },
        [&](const std::vector<std::uint64_t>& known, CandidateSink& carved) {
          return carve_free_clusters(source, boot.volume, known, carved, progress);
        });
  });
}

std::expected<void, RecoveryError> scan_exfat(
    ByteSource& source, std::span<const std::uint8_t> sector, std::uint64_t partition_offset,
    std::uint32_t partition_index, std::uint64_t source_length, const ScanOptions& options,
    const ProgressSink& progress, ReportSink& sink, StopWatch& watch) {
  KESTREL_TRY_ASSIGN(boot, read_exfat_boot_region(source, sector, partition_offset, source_length));
  FilesystemReport report;
  report.partition_index = partition_index;
  report.kind = FilesystemKind::Exfat;
  report.validation = boot->validation;
  if (auto warning = boot_region_warning(boot->validation)) report.warnings.emplace_back(*warning);
  report.warnings.insert(report.warnings.end(), std::begin(kExfatWarnings),
                         std::end(kExfatWarnings));
  const auto scan = options.all_directories ? scan_exfat_tree : scan_exfat_root;
  return walk_report(report, sink, watch, [&](CandidateSink& candidates) {
    return walk_then_carve(
        candidates, options.carve,
        [&](CandidateSink& walked) {
          return scan(source, boot->volume, partition_index, boot->root_cluster, walked);
        },
        [&](const std::vector<std::uint64_t>& known, CandidateSink& carved) {
          return carve_free_clusters(source, boot->volume, partition_index, boot->root_cluster,
                                     known, carved, progress);
        });
  });
}

// A partition without a known file system; with carving, its whole area is
// searched, from its first byte to its end or the source's.
std::expected<void, RecoveryError> scan_unknown(
    ByteSource& source, const PartitionEntry& partition, std::uint64_t partition_offset,
    std::uint64_t source_length, std::uint32_t sector_size, const ScanOptions& options,
    const ProgressSink& progress, ReportSink& sink, StopWatch& watch) {
  FilesystemReport report;
  report.partition_index = partition.index;
  report.kind = FilesystemKind::Unknown;
  report.warnings.emplace_back(kNoSignatureWarning);
  return walk_report(
      report, sink, watch, [&](CandidateSink& candidates) -> std::expected<void, RecoveryError> {
        if (!options.carve) return {};
        const std::uint64_t available = source_length - partition_offset;
        auto claimed = checked_mul(partition.sector_count, sector_size);
        const std::uint64_t length =
            claimed && *claimed != 0 ? std::min(*claimed, available) : available;
        KESTREL_TRY_ASSIGN(carved, carve_whole_area(source, partition.index, partition_offset,
                                                    length, sector_size, candidates, progress));
        return {};
      });
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

std::expected<void, RecoveryError> stream_filesystems(ByteSource& source,
                                                      std::uint64_t source_length,
                                                      const PartitionTable& table, ReportSink& sink,
                                                      const ScanOptions& options,
                                                      const ProgressSink& progress) {
  std::vector<std::uint8_t> sector(table.logical_sector_size);
  StopWatch watch(sink);
  for (const PartitionEntry& partition : table.partitions) {
    KESTREL_TRY_ASSIGN(offset, checked_mul(partition.start_lba, table.logical_sector_size));
    if (*offset >= source_length) continue;
    KESTREL_TRY(read_exact(source, *offset, sector));

    std::expected<void, RecoveryError> scanned;
    if (is_exfat_boot_sector(sector)) {
      scanned = scan_exfat(source, sector, *offset, partition.index, source_length, options,
                           progress, sink, watch);
    } else if (is_fat12_16_boot_sector(sector)) {
      KESTREL_TRY_ASSIGN(boot, read_fat12_16_boot_sector(sector, *offset, partition.index,
                                                         source_length));
      scanned = scan_fat(source, std::move(*boot), options, progress, sink, watch);
    } else if (is_fat32_boot_sector(sector)) {
      KESTREL_TRY_ASSIGN(boot, read_fat32_boot_sector(sector, *offset, partition.index,
                                                      source_length));
      scanned = scan_fat(source, std::move(*boot), options, progress, sink, watch);
    } else {
      scanned = scan_unknown(source, partition, *offset, source_length, table.logical_sector_size,
                             options, progress, sink, watch);
    }
    if (!scanned) return std::unexpected(scanned.error());
    if (watch.stopped()) break;
  }
  return {};
}

std::expected<std::vector<FilesystemReport>, RecoveryError> scan_filesystems(
    ByteSource& source, std::uint64_t source_length, const PartitionTable& table,
    const ScanOptions& options, const ProgressSink& progress) {
  std::vector<FilesystemReport> reports;
  ReportCollector collector(reports);
  if (auto scanned = stream_filesystems(source, source_length, table, collector, options, progress);
      !scanned) {
    return std::unexpected(scanned.error());
  }
  return reports;
}

}  // namespace kestrel
