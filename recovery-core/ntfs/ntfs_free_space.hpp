#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "recovery-core/candidates/candidate_sink.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/ntfs/ntfs_cluster_bitmap.hpp"
#include "recovery-core/ntfs/ntfs_geometry.hpp"
#include "recovery-core/progress/progress_sink.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Carves the clusters `bitmap` marks free (every cluster when there is none),
// at cluster starts.
std::expected<SinkReply, RecoveryError> carve_ntfs_free_space(
    ByteSource& source, const NtfsGeometry& geometry, const NtfsClusterBitmap* bitmap,
    std::uint32_t partition_index, const std::vector<std::uint64_t>& known_starts,
    CandidateSink& sink, const ProgressSink& progress);

}  // namespace kestrel
