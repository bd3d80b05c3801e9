#include "recovery-core/candidates/candidate_builder.hpp"

#include <utility>

#include "recovery-core/candidates/candidate_messages.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/content/content_check.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

FilesystemKind kind_of(const ExfatGeometry&) { return FilesystemKind::Exfat; }

}  // namespace

FilesystemKind kind_of(const FatGeometry& volume) {
  switch (volume.width) {
    case FatWidth::Fat12:
      return FilesystemKind::Fat12;
    case FatWidth::Fat16:
      return FilesystemKind::Fat16;
    case FatWidth::Fat32:
      break;
  }
  return FilesystemKind::Fat32;
}

std::string candidate_id(FilesystemKind file_system, std::uint32_t partition_index,
                         std::uint64_t entry_offset) {
  return std::string(filesystem_kind_name(file_system)) + ":" + std::to_string(partition_index) +
         ":" + std::to_string(entry_offset);
}

std::expected<RecoveryCandidate, RecoveryError> CandidateBuilder::build(DeletedFileFacts facts) {
  return std::visit([&](const auto& volume) { return build_on(volume, std::move(facts)); },
                    volume_);
}

template <typename Volume>
std::expected<RecoveryCandidate, RecoveryError> CandidateBuilder::build_on(const Volume& volume,
                                                                           DeletedFileFacts facts) {
  KESTREL_TRY_ASSIGN(bytes_per_cluster, cluster_size(volume));
  KESTREL_TRY_ASSIGN(data_offset, cluster_offset(volume, facts.first_cluster));
  KESTREL_TRY_ASSIGN(offsets, offset_count(volume, facts));
  // A one-cluster file reads the same either way, so it counts as contiguous.
  const bool has_chain = *offsets >= 2;
  ContentCheck check = check_content(source_, *data_offset, facts.size, facts.name, has_chain);

  RecoveryCandidate candidate;
  candidate.id = std::move(facts.id);
  candidate.partition_index = facts.partition_index;
  candidate.file_system = kind_of(volume);
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
  candidate.volume = volume;
  candidate.no_fat_chain = facts.no_fat_chain;
  return candidate;
}

std::expected<std::uint32_t, RecoveryError> CandidateBuilder::offset_count(
    const FatGeometry& volume, const DeletedFileFacts& facts) {
  return deleted_file_offset_count(source_, volume, facts.first_cluster, facts.size, chain_memo_);
}

std::expected<std::uint32_t, RecoveryError> CandidateBuilder::offset_count(
    const ExfatGeometry& volume, const DeletedFileFacts& facts) {
  return deleted_file_offset_count(source_, volume, facts.first_cluster, facts.size,
                                   facts.no_fat_chain, chain_memo_);
}

// An area without clusters has no directory entries to build candidates from.
std::expected<RecoveryCandidate, RecoveryError> CandidateBuilder::build_on(
    const RawAreaGeometry&, const DeletedFileFacts&) {
  return std::unexpected(RecoveryError::invalid_structure(std::string(kNoClustersInArea)));
}

}  // namespace kestrel
