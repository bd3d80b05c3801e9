#pragma once

#include <utility>
#include <vector>

#include "recovery-core/candidates/scan_report.hpp"

namespace kestrel {

// What a sink tells the walk that handed it a candidate.
enum class SinkReply { Continue, Stop };

// Where a scan hands its candidates, one call per candidate, in the order they
// are found. A walk that hears Stop ends at once without an error and hands
// over nothing more, so a caller that found what it wanted need not wait for
// the rest of the volume.
class CandidateSink {
 public:
  virtual ~CandidateSink() = default;
  virtual SinkReply accept(RecoveryCandidate candidate) = 0;
};

// A sink that keeps every candidate, in order.
class CandidateCollector final : public CandidateSink {
 public:
  explicit CandidateCollector(std::vector<RecoveryCandidate>& candidates)
      : candidates_(candidates) {}

  SinkReply accept(RecoveryCandidate candidate) override {
    candidates_.push_back(std::move(candidate));
    return SinkReply::Continue;
  }

 private:
  std::vector<RecoveryCandidate>& candidates_;
};

}  // namespace kestrel
