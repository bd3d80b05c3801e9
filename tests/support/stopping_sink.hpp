#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "recovery-core/candidates/candidate_sink.hpp"

namespace kestrel::testing {

// Keeps every candidate it is handed and asks the walk to stop once it holds
// `wanted` of them, so a test sees whether anything arrives after the stop.
class StoppingSink final : public CandidateSink {
 public:
  explicit StoppingSink(std::size_t wanted) : wanted_(wanted) {}

  SinkReply accept(RecoveryCandidate candidate) override {
    candidates.push_back(std::move(candidate));
    return candidates.size() >= wanted_ ? SinkReply::Stop : SinkReply::Continue;
  }

  std::vector<RecoveryCandidate> candidates;

 private:
  std::size_t wanted_;
};

}  // namespace kestrel::testing
