#pragma once

#include "recovery-core/candidates/candidate_sink.hpp"
#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Gives a carved candidate the dates its content records: "modified" and,
// where the format keeps one, "created" ("accessed" stays absent: no format
// records it), with a last note that names where they were read. A candidate
// that is not carved, or whose content records no date that can be real, is
// left as it is; so is one whose bytes cannot be read again here (its
// recovery meets the same read).
void add_content_dates(ByteSource& source, RecoveryCandidate& candidate);

// Hands every candidate on to `next`, carved ones with their content dates.
class CarvedFileDating final : public CandidateSink {
 public:
  CarvedFileDating(ByteSource& source, CandidateSink& next) : source_(source), next_(next) {}

  SinkReply accept(RecoveryCandidate candidate) override {
    add_content_dates(source_, candidate);
    return next_.accept(std::move(candidate));
  }

 private:
  ByteSource& source_;
  CandidateSink& next_;
};

}  // namespace kestrel
