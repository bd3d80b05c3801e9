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

// Who makes a recovered file durable: this call, flushing it before it
// returns, or the caller, which makes a whole batch durable at once.
enum class FileDurability { FlushedHere, LeftToCaller };

// Writes the candidate's bytes, in file order, to `destination`, which this
// call creates; if something is already there the call fails with the
// destination-exists error and leaves it alone. Returns how many bytes were
// written, which is the candidate's size. A failure part-way leaves the bytes
// copied so far where they are. Adjacent clusters are read and written in
// calls of up to 1 MiB.
std::expected<std::uint64_t, RecoveryError> extract_candidate(ByteSource& source,
                                                              const RecoveryCandidate& candidate,
                                                              const std::filesystem::path& destination,
                                                              FileDurability durability = FileDurability::FlushedHere);

}  // namespace kestrel
