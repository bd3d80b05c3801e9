#include "cli/candidate_selection.hpp"

#include "recovery-core/text/unicode.hpp"

namespace kestrel {

NamePrefixFilter::NamePrefixFilter(const std::optional<std::string>& prefix)
    : upper_prefix_(prefix ? std::optional<std::string>(to_upper_full(*prefix)) : std::nullopt) {}

bool NamePrefixFilter::selects(const RecoveryCandidate& candidate) const {
  return !upper_prefix_ || to_upper_full(candidate.name).starts_with(*upper_prefix_);
}

SinkReply CandidateFinder::accept(RecoveryCandidate candidate) {
  if (candidate.id != id_) return SinkReply::Continue;
  found_ = std::move(candidate);
  return SinkReply::Stop;
}

}  // namespace kestrel
