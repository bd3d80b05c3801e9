#include "recovery-core/scan/scan_filesystems.hpp"

#include <algorithm>
#include <optional>
#include <span>
#include <string_view>

#include "recovery-core/candidates/candidate_sink.hpp"
#include "recovery-core/carving/free_space_carving.hpp"
#include "recovery-core/carving/known_file_starts.hpp"
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

std::expected<FilesystemReport, RecoveryError> scan_fat32(ByteSource& source,
                                                          std::span<const std::uint8_t> sector,
                                                          std::uint64_t partition_offset,
                                                          std::uint32_t partition_index,
                                                          std::uint64_t source_length, const ScanOptions& options,
                                                          const ProgressSink& progress) {
  auto boot = read_fat32_boot_sector(sector, partition_offset, partition_index, source_length);
  if (!boot) return std::unexpected(boot.error());
  FilesystemReport report;
  CandidateCollector collector(report.candidates);
  KnownFileStarts walked_files(collector);
  const Fat32Walk walk = options.all_directories ? Fat32Walk::AllDirectories : Fat32Walk::LiveTree;
  if (auto walked = scan_fat32_volume(source, boot->volume, boot->root_cluster, walked_files, walk); !walked) {
    return std::unexpected(walked.error());
  }
  if (options.carve && !walked_files.stopped()) {
    auto carved = carve_free_clusters(source, boot->volume, walked_files.sorted(), collector, progress);
    if (!carved) return std::unexpected(carved.error());
  }

  report.partition_index = partition_index;
  report.kind = FilesystemKind::Fat32;
  report.label = std::move(boot->label);
  report.warnings.assign(std::begin(kFat32Warnings), std::end(kFat32Warnings));
  return report;
}

std::expected<FilesystemReport, RecoveryError> scan_exfat(ByteSource& source,
                                                          std::span<const std::uint8_t> sector,
                                                          std::uint64_t partition_offset,
                                                          std::uint32_t partition_index,
                                                          std::uint64_t source_length, const ScanOptions& options,
                                                          const ProgressSink& progress) {
  auto boot = read_exfat_boot_region(source, sector, partition_offset, source_length);
  if (!boot) return std::unexpected(boot.error());
  FilesystemReport report;
  CandidateCollector collector(report.candidates);
  KnownFileStarts walked_files(collector);
  const auto scan = options.all_directories ? scan_exfat_tree : scan_exfat_root;
  if (auto walked = scan(source, boot->volume, partition_index, boot->root_cluster, walked_files); !walked) {
    return std::unexpected(walked.error());
  }
  if (options.carve && !walked_files.stopped()) {
    auto carved = carve_free_clusters(source, boot->volume, partition_index, boot->root_cluster,
                                      walked_files.sorted(), collector, progress);
    if (!carved) return std::unexpected(carved.error());
  }

  report.partition_index = partition_index;
  report.kind = FilesystemKind::Exfat;
  report.validation = boot->validation;
  if (auto warning = boot_region_warning(boot->validation)) report.warnings.emplace_back(*warning);
  report.warnings.insert(report.warnings.end(), std::begin(kExfatWarnings), std::end(kExfatWarnings));
  return report;
}

// A partition without a known file system; with carving, its whole area is
// searched, from its first byte to its end or the source's.
std::expected<FilesystemReport, RecoveryError> scan_unknown(ByteSource& source, const PartitionEntry& partition,
                                                            std::uint64_t partition_offset, std::uint64_t source_length,
                                                            std::uint32_t sector_size, const ScanOptions& options,
                                                            const ProgressSink& progress) {
  FilesystemReport report;
  report.partition_index = partition.index;
  report.kind = FilesystemKind::Unknown;
  report.warnings.emplace_back(kNoSignatureWarning);
  if (!options.carve) return report;
  const std::uint64_t available = source_length - partition_offset;
  auto claimed = checked_mul(partition.sector_count, sector_size);
  const std::uint64_t length = claimed && *claimed != 0 ? std::min(*claimed, available) : available;
  CandidateCollector collector(report.candidates);
  auto carved = carve_whole_area(source, partition.index, partition_offset, length, sector_size, collector, progress);
  if (!carved) return std::unexpected(carved.error());
  return report;
}

}  // namespace

std::expected<std::vector<FilesystemReport>, RecoveryError> scan_filesystems(
    ByteSource& source, std::uint64_t source_length, const PartitionTable& table, const ScanOptions& options,
    const ProgressSink& progress) {
  std::vector<FilesystemReport> reports;
  std::vector<std::uint8_t> sector(table.logical_sector_size);
  for (const PartitionEntry& partition : table.partitions) {
    auto offset = checked_mul(partition.start_lba, table.logical_sector_size);
    if (!offset) return std::unexpected(offset.error());
    if (*offset >= source_length) continue;
    if (auto read = read_exact(source, *offset, sector); !read) return std::unexpected(read.error());

    std::expected<FilesystemReport, RecoveryError> report;
    if (is_exfat_boot_sector(sector)) {
      report = scan_exfat(source, sector, *offset, partition.index, source_length, options, progress);
    } else if (is_fat32_boot_sector(sector)) {
      report = scan_fat32(source, sector, *offset, partition.index, source_length, options, progress);
    } else {
      report = scan_unknown(source, partition, *offset, source_length, table.logical_sector_size, options, progress);
    }
    if (!report) return std::unexpected(report.error());
    reports.push_back(std::move(*report));
  }
  return reports;
}

}  // namespace kestrel
