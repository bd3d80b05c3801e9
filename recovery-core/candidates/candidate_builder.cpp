#include "recovery-core/candidates/candidate_builder.hpp"

#include <utility>

#include "recovery-core/candidates/candidate_messages.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/content/content_check.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

std::string candidate_id(FilesystemKind file_system, std::uint32_t partition_index,
                         std::uint64_t entry_offset) {
  return std::string(filesystem_kind_name(file_system)) + ":" + std::to_string(partition_index) +
         ":" + std::to_string(entry_offset);
}

std::expected<RecoveryCandidate, RecoveryError> CandidateBuilder::build(DeletedFileFacts facts) {
  KESTREL_TRY_ASSIGN(bytes_per_cluster, cluster_size(area_));
  KESTREL_TRY_ASSIGN(data_offset, cluster_offset(area_, facts.first_cluster));
  KESTREL_TRY_ASSIGN(offsets,
                     deleted_file_offset_count(source_, area_, facts.first_cluster, facts.size,
                                               facts.no_fat_chain, chain_memo_));
  // A one-cluster file reads the same either way, so it counts as contiguous.
  const bool has_chain = *offsets >= 2;
  ContentCheck check = check_content(source_, *data_offset, facts.size, facts.name, has_chain);

  RecoveryCandidate candidate;
  candidate.id = std::move(facts.id);
  candidate.partition_index = facts.partition_index;
  candidate.file_system = kind_;
  candidate.name = std::move(facts.name);
  candidate.size = facts.size;
  candidate.first_cluster = facts.first_cluster;
  candidate.data_offset = *data_offset;
  candidate.cluster_size = *bytes_per_cluster;
  candidate.recoverability =
      has_chain ? Recoverability::FatChain : Recoverability::ContiguousLikely;
  candidate.detected_kind = check.detected_kind;
  candidate.confidence = check.confidence;
  candidate.confidence_score = check.confidence_score;
  candidate.validation_notes = std::move(check.validation_notes);
  for (const std::string_view note : facts.extra_notes)
    candidate.validation_notes.emplace_back(note);
  candidate.deleted = facts.deleted;
  candidate.directory = std::move(facts.directory);
  candidate.dates = std::move(facts.dates);
  candidate.layout = area_;
  candidate.no_fat_chain = facts.no_fat_chain;
  candidate.start_rebuilt = facts.start_rebuilt;
  return candidate;
}

}  // namespace kestrel
