#include "cli/candidate_selection.hpp"

#include "recovery-core/text/unicode.hpp"

namespace kestrel {

const RecoveryCandidate* find_candidate(const ImageInspection& inspection, std::string_view id) {
  for (const FilesystemReport& report : inspection.filesystems) {
    for (const RecoveryCandidate& candidate : report.candidates) {
      if (candidate.id == id) return &candidate;
    }
  }
  return nullptr;
}

std::vector<const RecoveryCandidate*> select_candidates(const ImageInspection& inspection,
                                                        const std::optional<std::string>& prefix) {
  const std::optional<std::string> wanted =
      prefix ? std::optional<std::string>(to_upper_full(*prefix)) : std::nullopt;
  std::vector<const RecoveryCandidate*> selected;
  for (const FilesystemReport& report : inspection.filesystems) {
    for (const RecoveryCandidate& candidate : report.candidates) {
      if (!wanted || to_upper_full(candidate.name).starts_with(*wanted)) selected.push_back(&candidate);
    }
  }
  return selected;
}

}  // namespace kestrel
