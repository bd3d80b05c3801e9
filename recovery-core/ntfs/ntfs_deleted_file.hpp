#pragma once

#include <cstdint>
#include <expected>
#include <optional>

#include "recovery-core/candidates/candidate_sink.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/ntfs/ntfs_cluster_bitmap.hpp"
#include "recovery-core/ntfs/ntfs_cluster_claims.hpp"
#include "recovery-core/ntfs/ntfs_folder_paths.hpp"
#include "recovery-core/ntfs/ntfs_geometry.hpp"
#include "recovery-core/ntfs/ntfs_mft.hpp"
#include "recovery-core/ntfs/ntfs_record.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// What the pass over the MFT needs to turn a record into candidates.
struct NtfsCandidateContext {
  ByteSource& source;
  NtfsMft& mft;
  NtfsGeometry geometry;
  std::uint32_t partition_index = 0;
  NtfsClusterBitmap* bitmap = nullptr;        // none: reuse is not judged
  const NtfsClusterClaims* claims = nullptr;  // the deleted records' runs; none: not compared
  NtfsFolderPaths* paths = nullptr;           // none: no folder path is given
  bool timestamps = false;
};

// Hands `sink` one candidate per data stream of a deleted file's record
// (`number`, stored at `record_offset`): the unnamed stream as the file's
// name, each named one as "name:stream", their pieces gathered from the
// extension records its attribute list names. Live records, folders, extension
// records, the reserved records 0-23 and the files of $Extend give none.
std::expected<SinkReply, RecoveryError> list_deleted_ntfs_record(
    NtfsCandidateContext& context, std::uint64_t number, std::optional<std::uint64_t> record_offset,
    const NtfsRecord& record, CandidateSink& sink);

// Adds the clusters of the deleted file's streams (as above) to `claims`.
std::expected<void, RecoveryError> claim_deleted_ntfs_record(NtfsCandidateContext& context,
                                                             std::uint64_t number,
                                                             const NtfsRecord& record,
                                                             NtfsClusterClaims& claims);

}  // namespace kestrel
