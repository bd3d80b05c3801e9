#include "recovery-core/scan/scan_filesystems.hpp"

#include <algorithm>
#include <optional>
#include <span>
#include <string_view>

#include "recovery-core/carving/carved_file_dates.hpp"
#include "recovery-core/carving/known_file_starts.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/scan/file_system_registry.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

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
// The closing asks the volume again: warnings about what the walk met may
// have joined the header.
template <typename Walk>
std::expected<void, RecoveryError> walk_report(const Volume& volume, ReportSink& sink,
                                               StopWatch& watch, Walk&& walk) {
  sink.begin_report(volume.header());
  auto walked = walk(watch);
  sink.end_report(volume.header());
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

// The volume's report: its header, then its files, then, with carving, what
// the search of its free space finds (with the dates their content records,
// when the options ask for dates).
std::expected<void, RecoveryError> scan_volume(ByteSource& source, Volume& volume,
                                               const ScanOptions& options,
                                               const ProgressSink& progress, ReportSink& sink,
                                               StopWatch& watch) {
  return walk_report(volume, sink, watch, [&](CandidateSink& candidates) {
    return walk_then_carve(
        candidates, options.carve,
        [&](CandidateSink& walked) { return volume.list_files(walked, options); },
        [&](const std::vector<std::uint64_t>& known, CandidateSink& carved) {
          if (!options.timestamps) return volume.carve_free_space(known, carved, progress);
          CarvedFileDating dated(source, carved);
          return volume.carve_free_space(known, dated, progress);
        });
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
  void end_report(const FilesystemReport& report) override {
    reports_.back().warnings = report.warnings;
  }

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

    const VolumePlace place{partition, *offset, source_length, table.logical_sector_size};
    KESTREL_TRY_ASSIGN(volume, open_volume(source, sector, place));
    auto scanned = scan_volume(source, **volume, options, progress, sink, watch);
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
