#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <vector>

#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/extraction/extraction_output.hpp"
#include "recovery-core/extraction/file_output.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// The candidate's cluster offsets, rebuilt through the source by the rules the
// scan used: the chain from its first cluster when it holds every cluster the
// file needs, else empty (the data is then read contiguously).
std::expected<std::vector<std::uint64_t>, RecoveryError> candidate_cluster_offsets(
    ByteSource& source, const RecoveryCandidate& candidate);

// Why the candidate cannot be copied at all (it has metadata only, or claims
// bytes without a cluster size), known before anything is read or created.
std::optional<RecoveryError> extraction_refusal(const RecoveryCandidate& candidate);

// How a candidate's bytes will be read: along these cluster offsets (empty:
// contiguously), and the most bytes the copy can write.
struct ExtractionPlan {
  std::vector<std::uint64_t> cluster_offsets;
  std::uint64_t length = 0;
};

// Plans the copy without reading any data: rebuilds a fat-chain candidate's
// chain once, so that the copy can follow it without walking it again. A
// candidate without data or without a cluster size plans nothing.
std::expected<ExtractionPlan, RecoveryError> plan_extraction(ByteSource& source,
                                                             const RecoveryCandidate& candidate);

// The most bytes extract_candidate can write for the candidate: its size,
// bounded by the end of its volume's cluster heap and of the source when it is
// read contiguously; 0 for a candidate without data or without a cluster
// size. Rebuilds the chain of a fat-chain candidate to know which way it will
// be read.
std::expected<std::uint64_t, RecoveryError> planned_extraction_length(
    ByteSource& source, const RecoveryCandidate& candidate);

// Writes the candidate's bytes, in file order, to `output`, and returns how
// many were written, which is the candidate's size. Contiguous and chain reads
// alike stop at the end of the volume's cluster heap: a file claiming more
// than its volume holds fails with the short read it would meet at the end of
// the medium. A failure part-way leaves the bytes copied so far in the output.
std::expected<std::uint64_t, RecoveryError> extract_candidate(ByteSource& source,
                                                              const RecoveryCandidate& candidate,
                                                              ExtractionOutput& output);

// The same along a plan made by plan_extraction for this candidate and source.
std::expected<std::uint64_t, RecoveryError> extract_candidate(ByteSource& source,
                                                              const RecoveryCandidate& candidate,
                                                              const ExtractionPlan& plan,
                                                              ExtractionOutput& output);

// The same into a new file at `destination` (FileOutput, without a free-space
// check); if something is already there the call fails with the
// destination-exists error and leaves it alone. Adjacent clusters are read
// and written in calls of up to 1 MiB.
std::expected<std::uint64_t, RecoveryError> extract_candidate(
    ByteSource& source, const RecoveryCandidate& candidate,
    const std::filesystem::path& destination,
    FileDurability durability = FileDurability::FlushedHere);

}  // namespace kestrel
