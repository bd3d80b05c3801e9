#include "recovery-core/extraction/extraction.hpp"

#include <algorithm>
#include <optional>
#include <span>
#include <variant>

#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/chains/deleted_file_chain.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/extraction/extraction_messages.hpp"
#include "recovery-core/extraction/file_output.hpp"
#include "recovery-core/extraction/recorded_runs_copy.hpp"
#include "recovery-core/source/bounded_source.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

// Clusters up to this size are read whole, one read per cluster; larger ones
// (only a crafted exFAT volume claims them) in pieces, so memory never follows
// the size a volume claims.
constexpr std::uint64_t kWholeClusterLimit = std::uint64_t{32} * 1024 * 1024;
constexpr std::uint64_t kPieceLength = std::uint64_t{1024} * 1024;
// Adjacent clusters are read and written together, up to this many bytes a call.
constexpr std::uint64_t kBatchBytes = std::uint64_t{1024} * 1024;

// Copies `length` bytes (one cluster or the file's remainder) at `offset` into
// the output. A run no longer than the buffer is one read; a longer one is read
// in buffer-sized pieces, and a short piece is reported as the short read of
// the whole run (expected = length, actual = the bytes the run got).
std::expected<void, RecoveryError> copy_run(ByteSource& source, ExtractionOutput& output,
                                            std::uint64_t offset, std::uint64_t length,
                                            std::span<std::uint8_t> buffer) {
  if (length <= buffer.size()) {
    const auto piece = buffer.first(static_cast<std::size_t>(length));
    KESTREL_TRY(read_exact(source, offset, piece));
    KESTREL_TRY(output.write(piece));
    return {};
  }
  std::uint64_t done = 0;
  while (done < length) {
    const auto piece = buffer.first(
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - done)));
    KESTREL_TRY_ASSIGN(position, checked_add(offset, done));
    KESTREL_TRY_ASSIGN(count, source.read_at(*position, piece));
    if (*count != piece.size()) {
      return std::unexpected(RecoveryError(SourceError::short_read(length, done + *count)));
    }
    KESTREL_TRY(output.write(piece));
    done += piece.size();
  }
  return {};
}

// A stretch of the file whose clusters lie one after another in the image.
struct Run {
  std::uint64_t offset = 0;  // of its first cluster
  std::uint64_t length = 0;  // file bytes it holds
};

// Copies one piece of a run cluster by cluster, as a copy that reads one
// cluster per call would: the same bytes reach the file and the same error
// ends it.
std::expected<void, RecoveryError> copy_piece_by_cluster(ByteSource& source,
                                                         ExtractionOutput& output,
                                                         std::uint64_t offset, std::uint64_t length,
                                                         std::uint64_t cluster_size,
                                                         std::span<std::uint8_t> buffer) {
  for (std::uint64_t unit = 0; unit < length; unit += cluster_size) {
    KESTREL_TRY_ASSIGN(position, checked_add(offset, unit));
    if (auto copied =
            copy_run(source, output, *position, std::min(cluster_size, length - unit), buffer);
        !copied) {
      return copied;
    }
  }
  return {};
}

// Copies a run in reads of up to kBatchBytes (whole clusters), one write each.
// A read that does not come back whole, or a piece whose end would overflow,
// is done again cluster by cluster (copy_piece_by_cluster). Clusters above
// kBatchBytes are each one piece.
std::expected<void, RecoveryError> copy_clusters(ByteSource& source, ExtractionOutput& output,
                                                 const Run& run, std::uint64_t cluster_size,
                                                 std::span<std::uint8_t> buffer) {
  const std::uint64_t batch =
      cluster_size <= kBatchBytes ? kBatchBytes / cluster_size * cluster_size : cluster_size;
  for (std::uint64_t done = 0; done < run.length;) {
    const std::uint64_t length = std::min(batch, run.length - done);
    auto offset = checked_add(run.offset, done);
    const bool whole = cluster_size <= kBatchBytes && offset && checked_add(*offset, length) &&
                       length <= buffer.size();
    if (whole) {
      const auto piece = buffer.first(static_cast<std::size_t>(length));
      auto count = source.read_at(*offset, piece);
      if (count && *count == length) {
        KESTREL_TRY(output.write(piece));
        done += length;
        continue;
      }
    }
    if (!offset) return std::unexpected(offset.error());
    if (auto copied = copy_piece_by_cluster(source, output, *offset, length, cluster_size, buffer);
        !copied) {
      return copied;
    }
    done += length;
  }
  return {};
}

// The chain's clusters as runs of adjacent ones, up to the file's size.
std::expected<std::vector<Run>, RecoveryError> chain_runs(
    const RecoveryCandidate& candidate, const std::vector<std::uint64_t>& offsets) {
  std::vector<Run> runs;
  std::uint64_t remaining = candidate.size;
  for (const std::uint64_t offset : offsets) {
    if (remaining == 0) break;
    const std::uint64_t length = std::min<std::uint64_t>(remaining, candidate.cluster_size);
    auto end = runs.empty() ? std::expected<std::uint64_t, RecoveryError>(0)
                            : checked_add(runs.back().offset, runs.back().length);
    if (!runs.empty() && end && *end == offset &&
        runs.back().length % candidate.cluster_size == 0) {
      runs.back().length += length;
    } else {
      runs.push_back({offset, length});
    }
    remaining -= length;
  }
  return runs;
}

std::expected<std::uint64_t, RecoveryError> copy_along_chain(
    ByteSource& source, ExtractionOutput& output, const RecoveryCandidate& candidate,
    const std::vector<std::uint64_t>& offsets, std::span<std::uint8_t> buffer) {
  KESTREL_TRY_ASSIGN(runs, chain_runs(candidate, offsets));
  std::uint64_t written = 0;
  for (const Run& run : *runs) {
    KESTREL_TRY(copy_clusters(source, output, run, candidate.cluster_size, buffer));
    written += run.length;
  }
  return written;
}

// The runs a candidate read without a chain is made of: the bytes from
// data_offset on, or its pieces (a carved file completed from two, a deleted
// file planned around others' clusters), none past its size.
std::vector<Run> runs_without_chain(const RecoveryCandidate& candidate) {
  if (candidate.pieces.empty()) return {Run{candidate.data_offset, candidate.size}};
  std::vector<Run> runs;
  std::uint64_t remaining = candidate.size;
  for (const FilePiece& piece : candidate.pieces) {
    const std::uint64_t length = std::min(piece.length, remaining);
    if (length > 0) runs.push_back(Run{piece.offset, length});
    remaining -= length;
  }
  return runs;
}

// The bytes of those runs, read in units of `step`.
std::expected<std::uint64_t, RecoveryError> copy_contiguous(ByteSource& source,
                                                            ExtractionOutput& output,
                                                            const RecoveryCandidate& candidate,
                                                            std::uint64_t step,
                                                            std::span<std::uint8_t> buffer) {
  for (const Run& run : runs_without_chain(candidate)) {
    KESTREL_TRY(copy_clusters(source, output, run, step, buffer));
  }
  return candidate.size;
}

// The end of the candidate's cluster area; none for a file carved from an
// area without a file system.
std::optional<std::uint64_t> heap_end(const RecoveryCandidate& candidate) {
  return cluster_area_end(candidate.layout);
}

// The most bytes the copy can write: all of them along a chain (every
// cluster is in the heap), else those between the data offset and `end`.
std::uint64_t planned_length(const RecoveryCandidate& candidate, std::uint64_t end,
                             bool along_chain) {
  if (along_chain) return candidate.size;
  std::uint64_t length = 0;
  for (const Run& run : runs_without_chain(candidate)) {
    if (run.offset < end) length += std::min(run.length, end - run.offset);
  }
  return length;
}

}  // namespace

std::expected<std::vector<std::uint64_t>, RecoveryError> candidate_cluster_offsets(
    ByteSource& source, const RecoveryCandidate& candidate) {
  // Only candidates of a cluster area follow a chain; their numbers fit 32 bits.
  return deleted_file_cluster_offsets(source, candidate.layout,
                                      static_cast<std::uint32_t>(candidate.first_cluster),
                                      candidate.size, candidate.no_fat_chain);
}

std::optional<RecoveryError> extraction_refusal(const RecoveryCandidate& candidate) {
  if (candidate.recoverability == Recoverability::MetadataOnly) {
    return RecoveryError::unsupported(std::string(kMetadataOnlyCandidate));
  }
  if (candidate.cluster_size == 0 && candidate.size > 0 &&
      candidate.recoverability != Recoverability::Carved) {
    return RecoveryError::invalid_structure(std::string(kZeroClusterSize));
  }
  return std::nullopt;
}

namespace {

// Copies the candidate along `offsets` (contiguously when empty) into `output`.
std::expected<std::uint64_t, RecoveryError> copy_candidate(
    ByteSource& source, const RecoveryCandidate& candidate,
    const std::vector<std::uint64_t>& offsets, ExtractionOutput& output) {
  // Files whose metadata says where every byte is are read as it says.
  if (const auto* runs = std::get_if<RecordedRuns>(&candidate.layout)) {
    return copy_recorded_runs(source, *runs, candidate.size, output);
  }
  if (const auto* held = std::get_if<HeldBytes>(&candidate.layout)) {
    return copy_held_bytes(*held, candidate.size, output);
  }
  // A carved file has no clusters of its own to follow: it is read in 1 MiB units.
  const bool carved = candidate.recoverability == Recoverability::Carved;
  const std::uint64_t step = carved ? kPieceLength : candidate.cluster_size;
  const std::uint64_t buffer_limit = step <= kBatchBytes          ? kBatchBytes / step * step
                                     : step <= kWholeClusterLimit ? step
                                                                  : kPieceLength;
  std::vector<std::uint8_t> buffer(
      static_cast<std::size_t>(std::min(buffer_limit, candidate.size)));

  // A file cannot extend past its volume: reads stop where the heap ends, as
  // they would at the end of the medium.
  BoundedSource volume(source, heap_end(candidate));
  KESTREL_TRY_ASSIGN(written, offsets.empty()
                                  ? copy_contiguous(volume, output, candidate, step, buffer)
                                  : copy_along_chain(volume, output, candidate, offsets, buffer));
  KESTREL_TRY(output.finish());
  return *written;
}

}  // namespace

std::expected<ExtractionPlan, RecoveryError> plan_extraction(ByteSource& source,
                                                             const RecoveryCandidate& candidate) {
  // Nothing is read for these; the copy refuses the first two.
  const bool carved = candidate.recoverability == Recoverability::Carved;
  if (candidate.recoverability == Recoverability::MetadataOnly ||
      (candidate.cluster_size == 0 && !carved) || candidate.size == 0) {
    return ExtractionPlan{};
  }
  ExtractionPlan plan;
  if (std::holds_alternative<RecordedRuns>(candidate.layout)) {
    plan.length = candidate.size;
    return plan;
  }
  if (const auto* held = std::get_if<HeldBytes>(&candidate.layout)) {
    plan.length = std::min<std::uint64_t>(candidate.size, held->bytes.size());
    return plan;
  }
  if (candidate.recoverability == Recoverability::FatChain) {
    KESTREL_TRY_ASSIGN(rebuilt, candidate_cluster_offsets(source, candidate));
    plan.cluster_offsets = std::move(*rebuilt);
  }
  plan.length = planned_length(
      candidate, std::min(heap_end(candidate).value_or(UINT64_MAX), source.capacity()),
      !plan.cluster_offsets.empty());
  return plan;
}

std::expected<std::uint64_t, RecoveryError> planned_extraction_length(
    ByteSource& source, const RecoveryCandidate& candidate) {
  KESTREL_TRY_ASSIGN(plan, plan_extraction(source, candidate));
  return plan->length;
}

std::expected<std::uint64_t, RecoveryError> extract_candidate(ByteSource& source,
                                                              const RecoveryCandidate& candidate,
                                                              ExtractionOutput& output) {
  if (auto refused = extraction_refusal(candidate)) return std::unexpected(std::move(*refused));
  std::vector<std::uint64_t> offsets;
  if (candidate.recoverability == Recoverability::FatChain) {
    KESTREL_TRY_ASSIGN(rebuilt, candidate_cluster_offsets(source, candidate));
    offsets = std::move(*rebuilt);
  }
  return copy_candidate(source, candidate, offsets, output);
}

std::expected<std::uint64_t, RecoveryError> extract_candidate(ByteSource& source,
                                                              const RecoveryCandidate& candidate,
                                                              const ExtractionPlan& plan,
                                                              ExtractionOutput& output) {
  if (auto refused = extraction_refusal(candidate)) return std::unexpected(std::move(*refused));
  return copy_candidate(source, candidate, plan.cluster_offsets, output);
}

std::expected<std::uint64_t, RecoveryError> extract_candidate(
    ByteSource& source, const RecoveryCandidate& candidate,
    const std::filesystem::path& destination, FileDurability durability) {
  KESTREL_TRY_ASSIGN(output, FileOutput::create(destination, durability));
  return extract_candidate(source, candidate, *output);
}

}  // namespace kestrel
