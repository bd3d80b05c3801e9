#include "recovery-core/exfat/exfat_directory.hpp"

#include <string>

#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/chains/cluster_stream.hpp"
#include "recovery-core/content/content_signature.hpp"
#include "recovery-core/exfat/exfat_entry_set.hpp"
#include "recovery-core/exfat/exfat_messages.hpp"
#include "recovery-core/chains/deleted_file_chain.hpp"

namespace kestrel {

namespace {

using namespace exfat_entry;

constexpr std::size_t kEntryBytes = std::tuple_size_v<ExfatDirectoryEntry>;

}  // namespace

std::expected<std::vector<RecoveryCandidate>, RecoveryError> scan_exfat_root(
    ByteSource& source, const ExfatVolume& volume, std::uint32_t partition_index,
    std::uint32_t root_cluster) {
  auto size = cluster_size(volume);
  if (!size) return std::unexpected(size.error());
  auto chain = follow_exfat_chain(source, volume.fat_offset, root_cluster);
  if (!chain) return std::unexpected(chain.error());
  std::vector<std::uint64_t> offsets;
  offsets.reserve(chain->size());
  for (const std::uint32_t cluster : *chain) {
    auto offset = cluster_offset(volume, cluster);
    if (!offset) return std::unexpected(offset.error());
    offsets.push_back(*offset);
  }

  ClusterStream directory(source, std::move(offsets), *size);
  const std::uint64_t entry_count = directory.length() / kEntryBytes;
  DeletedChainMemo chain_memo;
  std::vector<RecoveryCandidate> candidates;

  std::uint64_t index = 0;
  while (index < entry_count) {
    auto entry = directory.bytes(index * kEntryBytes, kEntryBytes);
    if (!entry) return std::unexpected(entry.error());
    const std::uint8_t type = (*entry)[kType];
    if (type == kEndOfDirectory) break;
    if ((type & kKindMask) != kFileKind) {
      ++index;
      continue;
    }
    const std::uint8_t secondary_count = (*entry)[kSecondaryCount];
    // A set that would run past the directory's data ends the scan.
    if (index + secondary_count >= entry_count) break;
    const std::size_t set_entries = std::size_t{secondary_count} + 1;
    const std::uint64_t set_index = index;
    index += set_entries;

    auto set = directory.bytes(set_index * kEntryBytes, set_entries * kEntryBytes);
    if (!set) return std::unexpected(set.error());
    const std::optional<ExfatStreamFacts> stream = find_stream_extension(*set);
    if (!stream) continue;
    const bool no_fat_chain = stream->no_fat_chain;
    const std::uint32_t first_cluster = stream->first_cluster;
    const std::uint64_t data_length = stream->data_length;
    if (type != kDeletedFileType || first_cluster < 2 || data_length == 0) continue;

    auto data_offset = cluster_offset(volume, first_cluster);
    if (!data_offset) return std::unexpected(data_offset.error());
    auto chain_offsets = deleted_file_offset_count(source, volume, first_cluster, data_length,
                                                   no_fat_chain, chain_memo);
    if (!chain_offsets) return std::unexpected(chain_offsets.error());
    const bool has_chain = *chain_offsets >= 2;
    std::string name = entry_set_name(*set, stream->name_length);
    if (name.empty()) name = kExfatUnnamedFile;
    ContentCheck check = check_content(source, *data_offset, data_length, name, has_chain);

    RecoveryCandidate candidate;
    candidate.id = "exfat:" + std::to_string(partition_index) + ":" +
                   std::to_string(set_index * kEntryBytes);
    candidate.partition_index = partition_index;
    candidate.file_system = FilesystemKind::Exfat;
    candidate.name = std::move(name);
    candidate.size = data_length;
    candidate.first_cluster = first_cluster;
    candidate.data_offset = *data_offset;
    candidate.cluster_size = *size;
    candidate.recoverability = has_chain ? Recoverability::FatChain : Recoverability::ContiguousLikely;
    candidate.detected_kind = check.detected_kind;
    candidate.confidence = check.confidence;
    candidate.confidence_score = check.confidence_score;
    candidate.validation_notes = std::move(check.validation_notes);
    candidate.deleted = true;
    candidate.volume = volume;
    candidate.no_fat_chain = no_fat_chain;
    candidates.push_back(std::move(candidate));
  }
  return candidates;
}

}  // namespace kestrel
