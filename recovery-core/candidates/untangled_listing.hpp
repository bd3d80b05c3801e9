#pragma once

#include <expected>
#include <functional>

#include "recovery-core/candidates/candidate_sink.hpp"
#include "recovery-core/chains/cluster_area.hpp"
#include "recovery-core/chains/untangle_plan.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// One walk of a volume's directories, handing its candidates to a sink.
using VolumeListing = std::function<std::expected<void, RecoveryError>(CandidateSink&)>;

// Lists a volume's deleted files with those whose chains are gone planned
// around the clusters of others (--untangle). The directories are walked
// twice: the first walk only gathers every deleted file's first cluster,
// size, creation time and what its first cluster shows (plan_untangled_runs
// decides the plans from them and from `use`); the second hands `sink` the
// same candidates, each planned one with its pieces, graded again by its
// planned first bytes, and the note that says how it was planned. A volume
// with more deleted files than plan_untangled_runs takes is listed as
// without the option.
std::expected<void, RecoveryError> list_untangled(ByteSource& source, const ClusterArea& area,
                                                  ClusterUse& use, const VolumeListing& listing,
                                                  CandidateSink& sink);

}  // namespace kestrel
