#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "recovery-core/candidates/candidate_sink.hpp"
#include "recovery-core/carving/carving_pass.hpp"
#include "recovery-core/carving/free_clusters.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/progress/progress_sink.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Carving of one partition, by what it holds. `known_starts` (sorted) are the
// first bytes of the files the directory scan already reported; a file found
// there is not reported again. Each reads the area once, in order, and prints
// its progress lines through `progress`. In a volume, a free cluster that
// still holds directory entries no directory reaches has their files listed
// as ordinary candidates (see LostDirectories), before the carving reaches
// their data.

// The free clusters of a volume, at cluster starts, with what `target` says
// of the volume (its grid, its lost directories).
std::expected<SinkReply, RecoveryError> carve_free_clusters(
    ByteSource& source, FreeClusters& clusters, const CarvingTarget& target,
    const std::vector<std::uint64_t>& known_starts, CandidateSink& sink,
    const ProgressSink& progress);

// The whole of [offset, offset + length), which holds no file system the scan
// knows, at every logical-sector start.
std::expected<SinkReply, RecoveryError> carve_whole_area(
    ByteSource& source, std::uint32_t partition_index, std::uint64_t offset, std::uint64_t length,
    std::uint32_t sector_size, CandidateSink& sink, const ProgressSink& progress);

}  // namespace kestrel
