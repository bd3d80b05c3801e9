#pragma once

#include <cstdint>
#include <expected>

#include "recovery-core/candidates/candidate_sink.hpp"
#include "recovery-core/chains/volume_geometry.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Walks the volume's directory tree from `root_cluster`, depth first, and
// hands `sink` a candidate for every deleted file that names a data cluster,
// each subdirectory's candidates at the place of its entry. Directories more
// than 32 levels below the root, and directories already walked (loops,
// cross-links), are skipped quietly. Errors: an unreadable directory cluster,
// an offset overflow, a cluster size beyond 32 bits.
std::expected<void, RecoveryError> scan_fat32_volume(ByteSource& source, const Fat32Volume& volume,
                                                     std::uint32_t root_cluster, CandidateSink& sink);

}  // namespace kestrel
