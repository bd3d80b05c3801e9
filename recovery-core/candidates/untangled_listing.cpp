#include "recovery-core/candidates/untangled_listing.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "recovery-core/chains/chain_messages.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/content/content_check.hpp"
#include "recovery-core/content/content_messages.hpp"
#include "recovery-core/content/content_signature.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// What the first cluster of a deleted file shows of it, from the kind its
// first bytes were found to be.
StartEvidence start_evidence(const RecoveryCandidate& candidate) {
  const std::optional<FileKind> promised = kind_from_extension(candidate.name);
  if (!promised) return StartEvidence::Unknown;
  if (candidate.detected_kind == promised) return StartEvidence::Present;
  if (candidate.detected_kind) return StartEvidence::Unknown;
  // No known kind: gone, unless the first bytes could not be read at all.
  const bool unread = std::ranges::find(candidate.validation_notes, kUnreadableStartNote) !=
                      candidate.validation_notes.end();
  return unread ? StartEvidence::Unknown : StartEvidence::Gone;
}

// How a candidate's clusters are found, for the plan. A first cluster rebuilt
// from the neighbouring entries may be wrong: such a file is never planned.
RunRole run_role(const RecoveryCandidate& candidate) {
  if (!candidate.deleted || !std::holds_alternative<ClusterArea>(candidate.layout) ||
      candidate.recoverability != Recoverability::ContiguousLikely || candidate.start_rebuilt) {
    return RunRole::Fixed;
  }
  return candidate.no_fat_chain ? RunRole::KeepsRun : RunRole::Walks;
}

constexpr std::uint32_t kLowWordMask = 0xFFFF;

// The first walk: every candidate's entry, in the order they come. More
// than the plan takes ends the walk; nothing is then planned.
class EntrySurvey final : public CandidateSink {
 public:
  explicit EntrySurvey(std::uint32_t cluster_size) : cluster_size_(cluster_size) {}

  SinkReply accept(RecoveryCandidate candidate) override {
    if (entries_.size() == kMaxUntangledFiles) {
      too_many_ = true;
      return SinkReply::Stop;
    }
    EntryRun run;
    run.first_cluster =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(candidate.first_cluster, UINT32_MAX));
    const std::uint64_t clusters =
        candidate.size / cluster_size_ + (candidate.size % cluster_size_ != 0 ? 1 : 0);
    run.clusters = static_cast<std::uint32_t>(
        std::clamp<std::uint64_t>(clusters, 1, std::uint64_t{kMaxWalkClusters} + 1));
    run.created = candidate.dates.created;
    run.start = start_evidence(candidate);
    run.role = run_role(candidate);
    // A rebuilt first cluster was raised from the one the entry holds by
    // whole 65,536-cluster steps; the file may start at either, so a walk
    // that comes to the one the entry holds cannot pass it either.
    if (candidate.start_rebuilt) {
      EntryRun stored = run;
      stored.first_cluster = run.first_cluster & kLowWordMask;
      stored.start = StartEvidence::Unknown;
      stored_starts_.push_back(std::move(stored));
    }
    entries_.push_back(std::move(run));
    ids_.push_back(std::move(candidate.id));
    return SinkReply::Continue;
  }

  bool too_many() const {
    return too_many_ || entries_.size() + stored_starts_.size() > kMaxUntangledFiles;
  }
  // Every entry, then the first clusters rebuilt entries hold.
  std::vector<EntryRun> all_entries() const {
    std::vector<EntryRun> all = entries_;
    all.insert(all.end(), stored_starts_.begin(), stored_starts_.end());
    return all;
  }
  const std::vector<std::string>& ids() const { return ids_; }

 private:
  std::uint32_t cluster_size_;
  std::vector<EntryRun> entries_;
  std::vector<EntryRun> stored_starts_;
  std::vector<std::string> ids_;
  bool too_many_ = false;
};

// The first min(size, kContentProbeBytes) bytes of a file in `pieces`;
// nothing when a read fails.
std::optional<std::vector<std::uint8_t>> first_bytes(ByteSource& source, const FilePieces& pieces,
                                                     std::uint64_t size) {
  std::vector<std::uint8_t> bytes(
      static_cast<std::size_t>(std::min<std::uint64_t>(size, kContentProbeBytes)));
  std::size_t filled = 0;
  for (const FilePiece& piece : pieces) {
    if (filled == bytes.size()) break;
    const auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(piece.length, bytes.size() - filled));
    if (!read_exact(source, piece.offset, std::span(bytes).subspan(filled, count)))
      return std::nullopt;
    filled += count;
  }
  return bytes;
}

// The second walk: the same candidates, the planned ones read from their pieces.
class PlannedCandidates final : public CandidateSink {
 public:
  PlannedCandidates(ByteSource& source, const ClusterArea& area, std::uint32_t cluster_size,
                    const EntrySurvey& survey,
                    std::vector<std::optional<std::vector<ClusterSpan>>> plans, CandidateSink& sink)
      : source_(source),
        area_(area),
        cluster_size_(cluster_size),
        survey_(survey),
        plans_(std::move(plans)),
        sink_(sink) {}

  SinkReply accept(RecoveryCandidate candidate) override {
    const std::size_t at = next_++;
    // Plans past the survey's candidates are those of the starts rebuilt entries hold.
    if (at < survey_.ids().size() && plans_[at] && survey_.ids()[at] == candidate.id)
      apply(*plans_[at], candidate);
    return sink_.accept(std::move(candidate));
  }

 private:
  // Gives the candidate its pieces and grades it by the bytes they start with.
  void apply(const std::vector<ClusterSpan>& spans, RecoveryCandidate& candidate) {
    FilePieces pieces;
    std::uint64_t remaining = candidate.size;
    for (const ClusterSpan& span : spans) {
      auto offset = cluster_offset(area_, span.first);
      if (!offset) return;
      const std::uint64_t length = std::min(remaining, std::uint64_t{span.count} * cluster_size_);
      pieces.push_back({*offset, length});
      remaining -= length;
    }
    if (remaining != 0) return;
    const ContentCheck before =
        check_content(source_, candidate.data_offset, candidate.size, candidate.name, false);
    const std::optional<std::vector<std::uint8_t>> head =
        first_bytes(source_, pieces, candidate.size);
    ContentCheck check =
        head ? check_first_bytes(std::span<const std::uint8_t>(*head), candidate.name, false)
             : check_first_bytes(std::nullopt, candidate.name, false);
    if (check.validation_notes.empty() || check.validation_notes.front() != kNoChainNote) return;
    check.validation_notes.front() = std::string(kUntangledRunsNote);
    // The notes the walk added after the content check's stay after it.
    const auto kept = std::min(before.validation_notes.size(), candidate.validation_notes.size());
    check.validation_notes.insert(
        check.validation_notes.end(),
        candidate.validation_notes.begin() + static_cast<std::ptrdiff_t>(kept),
        candidate.validation_notes.end());
    candidate.detected_kind = check.detected_kind;
    candidate.confidence = check.confidence;
    candidate.confidence_score = check.confidence_score;
    candidate.validation_notes = std::move(check.validation_notes);
    candidate.pieces = std::move(pieces);
  }

  ByteSource& source_;
  ClusterArea area_;
  std::uint32_t cluster_size_;
  const EntrySurvey& survey_;
  std::vector<std::optional<std::vector<ClusterSpan>>> plans_;
  CandidateSink& sink_;
  std::size_t next_ = 0;
};

}  // namespace

std::expected<void, RecoveryError> list_untangled(ByteSource& source, const ClusterArea& area,
                                                  ClusterUse& use, const VolumeListing& listing,
                                                  CandidateSink& sink) {
  KESTREL_TRY_ASSIGN(size, cluster_size(area));
  if (*size == 0) return listing(sink);
  // A walk that fails is walked again as without the option, so that the
  // sink gets what it would have got before the error.
  EntrySurvey survey(*size);
  if (!listing(survey) || survey.too_many()) return listing(sink);
  auto plans = plan_untangled_runs(survey.all_entries(), area.cluster_count, use, kMaxFilePieces);
  PlannedCandidates planned(source, area, *size, survey, std::move(plans), sink);
  return listing(planned);
}

}  // namespace kestrel
