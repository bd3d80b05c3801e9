#include "recovery-core/exfat/exfat_lost_cluster.hpp"

#include <optional>
#include <tuple>

#include "recovery-core/candidates/candidate_messages.hpp"
#include "recovery-core/exfat/exfat_cluster_recognition.hpp"
#include "recovery-core/exfat/exfat_deleted_file.hpp"
#include "recovery-core/exfat/exfat_entry_set.hpp"
#include "recovery-core/exfat/exfat_entry_set_assembler.hpp"

namespace kestrel {

namespace {

using namespace exfat_entry;

constexpr std::size_t kEntryBytes = std::tuple_size_v<ExfatDirectoryEntry>;

// What a sound set in a lost cluster says about its file, in use or not.
std::optional<DeletedFileFacts> lost_file(std::span<const std::uint8_t> set,
                                          std::uint32_t partition_index) {
  if (!is_sound_exfat_file_set(set) || is_directory_set(set)) return std::nullopt;
  std::optional<DeletedFileFacts> facts = exfat_file_facts(set, partition_index);
  if (facts) facts->extra_notes.push_back(kLostDirectoryNote);
  return facts;
}

}  // namespace

SinkReply list_lost_exfat_cluster(std::span<const std::uint8_t> bytes, std::uint32_t cluster,
                                  std::uint32_t partition_index, CandidateBuilder& builder,
                                  CandidateSink& sink) {
  ExfatEntrySetAssembler assembler;
  for (std::size_t at = 0; at + kEntryBytes <= bytes.size(); at += kEntryBytes) {
    const auto outcome = assembler.add(bytes.subspan(at, kEntryBytes), at, true);
    if (outcome == ExfatEntrySetAssembler::Outcome::EndOfDirectory) break;
    if (outcome == ExfatEntrySetAssembler::Outcome::Pending) continue;
    std::optional<DeletedFileFacts> facts = lost_file(assembler.set(), partition_index);
    if (!facts) continue;
    facts->id = exfat_folder_candidate_id(partition_index, cluster, assembler.set_offset());
    auto candidate = builder.build(std::move(*facts));
    if (candidate && sink.accept(std::move(*candidate)) == SinkReply::Stop) return SinkReply::Stop;
  }
  return SinkReply::Continue;
}

}  // namespace kestrel
