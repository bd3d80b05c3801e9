#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "cli/image_inspection.hpp"
#include "recovery-core/candidates/scan_report.hpp"

namespace kestrel {

// The first candidate, over the reports in order, whose id equals `id` byte for
// byte; nullptr when there is none.
const RecoveryCandidate* find_candidate(const ImageInspection& inspection, std::string_view id);

// Every candidate in report order or, with a prefix, those whose name starts
// with it, compared in full Unicode upper case ("ß" matches "SS"). An empty
// prefix selects every candidate.
std::vector<const RecoveryCandidate*> select_candidates(const ImageInspection& inspection,
                                                        const std::optional<std::string>& prefix);

}  // namespace kestrel
