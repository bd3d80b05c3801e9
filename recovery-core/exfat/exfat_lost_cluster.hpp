#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "recovery-core/candidates/candidate_builder.hpp"
#include "recovery-core/candidates/candidate_sink.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// Lists the files of a free cluster that still holds exFAT entry sets (see
// holds_exfat_entry_sets) which no directory reaches any more. `bytes` is the
// start of cluster `cluster` (at most 64 KiB of it). Every sound File entry
// set lying wholly inside `bytes` that is no directory and names data becomes
// a candidate: deleted and live ones alike (a live one with `deleted` false),
// without a folder path, with the lost-directory note, and with the id
// exfat_folder_candidate_id(partition, cluster, offset in the cluster). A set
// whose candidate cannot be built (data outside the heap) is passed over.
SinkReply list_lost_exfat_cluster(std::span<const std::uint8_t> bytes, std::uint32_t cluster,
                                  std::uint32_t partition_index, CandidateBuilder& builder,
                                  CandidateSink& sink);

}  // namespace kestrel
