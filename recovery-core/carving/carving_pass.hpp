#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <vector>

#include "recovery-core/candidates/candidate_sink.hpp"
#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/carving/lost_directories.hpp"
#include "recovery-core/content/file_end/file_area.hpp"
#include "recovery-core/content/file_end/file_end.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/progress/progress_sink.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// A run of bytes to search, [offset, offset + length).
struct ByteRun {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

// The runs of one area to search, in increasing order, and their total.
class SearchRuns {
 public:
  virtual ~SearchRuns() = default;
  virtual std::expected<std::optional<ByteRun>, RecoveryError> next() = 0;
};

// What the candidates of an area say about where they were found.
struct CarvingTarget {
  std::uint32_t partition_index = 0;
  FilesystemKind file_system = FilesystemKind::Unknown;
  DataLayout layout;      // the volume's clusters, or none
  UnitGrid grid;          // cluster starts of the volume, or logical-sector starts
  bool clusters = false;  // whether units are clusters (numbered from first_cluster_number)
  // Free clusters that hold directory entries are listed by this; none for
  // areas without a file system.
  LostDirectories* lost_directories = nullptr;
  // The number of the cluster at the grid's origin: 2 where an allocation
  // table numbers them, 0 where the volume's clusters start at its first byte.
  std::uint64_t first_cluster_number = 2;
};

// Where a search goes on after the file found at the unit start `start`: at
// the next unit start past its end when the end was found; otherwise at the
// last unit start inside what its structure vouches for (a file that broke off
// may have been overwritten by the next one there), but always past the
// file's own first unit.
std::uint64_t resume_after(const FileEnd& end, std::uint64_t start, const UnitGrid& grid);

// Reads the runs once, in order, and at every unit start looks for a file
// header that `known_starts` (sorted) does not already name. Each file found
// is measured by its format's end rule and handed to `sink` as a carved
// candidate; the search goes on after the file where its structure vouches
// for it, else at the next unit. A unit start without a header may hold lost
// directory entries (target.lost_directories): their files go to `sink` too,
// except one whose data starts where a listed or carved file does; a file
// they list is then not carved again. Stops early, without an error, when the sink
// says so. `total` (the runs' bytes) is what the progress lines count against.
std::expected<SinkReply, RecoveryError> carve_runs(ByteSource& source, SearchRuns& runs,
                                                   std::uint64_t total, const CarvingTarget& target,
                                                   const std::vector<std::uint64_t>& known_starts,
                                                   CandidateSink& sink,
                                                   const ProgressSink& progress);

}  // namespace kestrel
