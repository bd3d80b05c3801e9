#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recovery-core/candidates/file_dates.hpp"
#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/chains/cluster_area.hpp"
#include "recovery-core/chains/deleted_file_chain.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// What a walk knows about one deleted file when it finds it.
struct DeletedFileFacts {
  std::string id;
  std::uint32_t partition_index = 0;
  std::string name;
  std::uint64_t size = 0;
  std::uint32_t first_cluster = 0;
  bool no_fat_chain = false;   // the entry says its clusters are contiguous: the table is not read
  bool start_rebuilt = false;  // first_cluster is not the one the entry holds (a cleared high word)
  std::vector<std::string_view> extra_notes;  // follow the content check's notes
  std::optional<FolderPath> directory;        // the folder it was found in, when the walk says
  bool deleted = true;  // false for a live entry that no directory reaches any more
  FileDates dates;      // as the entry records them
};

// "<file system>:<partition index>:<entry offset>", the id of a candidate
// found in a directory.
std::string candidate_id(FilesystemKind file_system, std::uint32_t partition_index,
                         std::uint64_t entry_offset);

// Turns the deleted files of one volume into graded candidates: whether the
// file's chain holds all its clusters (recoverability), what its first bytes
// are (the content check) and the notes that explain both. One builder serves
// one volume scan: it remembers the FAT chains it has walked, so files whose
// chains meet cost no second walk.
class CandidateBuilder {
 public:
  // Candidates of the file system `kind` whose files lie in `area`.
  CandidateBuilder(ByteSource& source, const ClusterArea& area, FilesystemKind kind)
      : source_(source), area_(area), kind_(kind) {}

  // Errors: the first cluster outside the area, a chain cluster outside it
  // (under the unbounded link rule), a cluster size beyond 32 bits. A chain
  // that cannot be read is no error: the candidate is then read contiguously.
  std::expected<RecoveryCandidate, RecoveryError> build(DeletedFileFacts facts);

 private:
  ByteSource& source_;
  ClusterArea area_;
  FilesystemKind kind_;
  DeletedChainMemo chain_memo_;
};

}  // namespace kestrel
