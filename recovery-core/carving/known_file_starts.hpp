#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "recovery-core/candidates/candidate_sink.hpp"

namespace kestrel {

// Passes candidates on to another sink and remembers where each one's data
// starts, so that carving does not report a file a directory entry already
// describes. Holds 8 bytes per candidate, not the candidates.
class KnownFileStarts final : public CandidateSink {
 public:
  explicit KnownFileStarts(CandidateSink& next) : next_(next) {}

  SinkReply accept(RecoveryCandidate candidate) override {
    starts_.push_back(candidate.data_offset);
    const SinkReply reply = next_.accept(std::move(candidate));
    stopped_ = stopped_ || reply == SinkReply::Stop;
    return reply;
  }

  // Whether the next sink has asked for no more candidates.
  bool stopped() const { return stopped_; }

  // The starts seen so far, in increasing order.
  const std::vector<std::uint64_t>& sorted() {
    std::sort(starts_.begin(), starts_.end());
    return starts_;
  }

 private:
  CandidateSink& next_;
  std::vector<std::uint64_t> starts_;
  bool stopped_ = false;
};

}  // namespace kestrel
