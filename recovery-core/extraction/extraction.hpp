#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <vector>

#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// The candidate's cluster offsets, rebuilt through the source by the rules the
// scan used: the chain from its first cluster when it holds every cluster the
// file needs, else empty (the data is then read contiguously).
std::expected<std::vector<std::uint64_t>, RecoveryError> candidate_cluster_offsets(
    ByteSource& source, const RecoveryCandidate& candidate);

// Copies a candidate's data into a new file at `destination`, which must not
// exist ("destination already exists"; an existing file is never opened for
// writing). Returns the bytes written (the candidate's size). On failure the
// part already written stays in the file.
std::expected<std::uint64_t, RecoveryError> extract_candidate(ByteSource& source,
                                                              const RecoveryCandidate& candidate,
                                                              const std::filesystem::path& destination);

}  // namespace kestrel
