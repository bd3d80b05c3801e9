#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <vector>

#include "recovery-core/candidates/candidate_sink.hpp"
#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/partition/partition_table.hpp"
#include "recovery-core/progress/progress_sink.hpp"
#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/volume/scan_options.hpp"

namespace kestrel {

// Where a partition lies in the source, as a file system is opened on it.
struct VolumePlace {
  const PartitionEntry& partition;
  std::uint64_t offset = 0;         // of the partition's first byte in the source
  std::uint64_t source_length = 0;  // bytes the source holds
  std::uint32_t sector_size = 0;    // logical sector size of the medium
};

// One partition as the scan reads it: a file system the tool knows, or an area
// without one. Each file system is one implementation in a folder of its own,
// opened through the registry (scan/file_system_registry.hpp); nothing else
// needs to know which one it is.
class Volume {
 public:
  virtual ~Volume() = default;

  // The report's members before its candidates: partition index, kind, label,
  // validation and warnings. Asked again once list_files and carve_free_space
  // are done, for the report's closing: warnings about what the walk met may
  // have joined by then.
  virtual FilesystemReport header() const = 0;

  // Hands `sink` the volume's deleted files, as far as `options` reach
  // (options.carve is not this member's business). Ends early, without an
  // error, when the sink says Stop.
  virtual std::expected<void, RecoveryError> list_files(CandidateSink& sink,
                                                        const ScanOptions& options) = 0;

  // Searches the space no file of the volume holds for files by their content
  // (see carve_runs), passing over those that start at one of `known_starts`
  // (sorted): the free clusters of a file system, with the directories it
  // recognises there listed too; the whole area of one without.
  virtual std::expected<SinkReply, RecoveryError> carve_free_space(
      const std::vector<std::uint64_t>& known_starts, CandidateSink& sink,
      const ProgressSink& progress) = 0;
};

// A file system the registry can open: `recognises` looks at the partition's
// first logical sector only; `open` reads what else it needs and checks the
// boot structures, failing as the scan of that volume fails.
//
// `open_from_backup`, where a file system keeps a copy of its boot sector
// elsewhere, opens a partition whose first sector no room recognises from that
// copy; it gives no volume (and no error) when there is no copy.
struct FileSystemRoom {
  bool (*recognises)(std::span<const std::uint8_t> boot_sector);
  std::expected<std::unique_ptr<Volume>, RecoveryError> (*open)(
      ByteSource& source, std::span<const std::uint8_t> boot_sector, const VolumePlace& place);
  std::expected<std::unique_ptr<Volume>, RecoveryError> (*open_from_backup)(
      ByteSource& source, const VolumePlace& place) = nullptr;
};

}  // namespace kestrel
