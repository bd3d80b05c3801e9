#include "recovery-core/exfat/exfat_directory.hpp"

#include <string>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/chains/cluster_stream.hpp"
#include "recovery-core/content/content_signature.hpp"
#include "recovery-core/exfat/exfat_messages.hpp"
#include "recovery-core/chains/deleted_file_chain.hpp"
#include "recovery-core/text/utf16.hpp"

namespace kestrel {

namespace {

constexpr std::size_t kEntryBytes = 32;
constexpr std::uint8_t kEndOfDirectory = 0x00;
constexpr std::uint8_t kKindMask = 0x7F;
constexpr std::uint8_t kFileKind = 0x05;
constexpr std::uint8_t kDeletedFileType = 0x05;  // File entry with the in-use bit clear
constexpr std::uint8_t kStreamExtensionKind = 0x40;
constexpr std::uint8_t kFileNameKind = 0x41;
constexpr std::uint8_t kNoFatChainFlag = 0x02;
constexpr std::size_t kUnitsPerNameEntry = 15;

std::uint8_t entry_kind(std::span<const std::uint8_t> set, std::size_t index) {
  return set[index * kEntryBytes] & kKindMask;
}

std::span<const std::uint8_t> entry_at(std::span<const std::uint8_t> set, std::size_t index) {
  return set.subspan(index * kEntryBytes, kEntryBytes);
}

// The name from the set's File Name entries: 15 units each, in order, until
// NameLength units are held. Unpaired surrogates are replaced.
std::string set_name(std::span<const std::uint8_t> set, std::size_t entries, std::uint8_t name_length) {
  std::u16string units;
  for (std::size_t index = 0; index < entries && units.size() < name_length; ++index) {
    if (entry_kind(set, index) != kFileNameKind) continue;
    const std::u16string entry_units = utf16_units_from_le_bytes(entry_at(set, index).subspan(2, 30));
    for (std::size_t unit = 0; unit < kUnitsPerNameEntry && units.size() < name_length; ++unit) {
      units.push_back(entry_units[unit]);
    }
  }
  std::string name = decode_utf16_lossy(units);
  return name.empty() ? std::string(kExfatUnnamedFile) : name;
}

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
    const std::uint8_t type = (*entry)[0];
    if (type == kEndOfDirectory) break;
    if ((type & kKindMask) != kFileKind) {
      ++index;
      continue;
    }
    const std::uint8_t secondary_count = (*entry)[1];
    // A set that would run past the directory's data ends the scan.
    if (index + secondary_count >= entry_count) break;
    const std::size_t set_entries = std::size_t{secondary_count} + 1;
    const std::uint64_t set_index = index;
    index += set_entries;

    auto set = directory.bytes(set_index * kEntryBytes, set_entries * kEntryBytes);
    if (!set) return std::unexpected(set.error());
    std::size_t stream_index = 1;
    while (stream_index < set_entries && entry_kind(*set, stream_index) != kStreamExtensionKind) {
      ++stream_index;
    }
    if (stream_index == set_entries) continue;
    const std::span<const std::uint8_t> stream = entry_at(*set, stream_index);
    const bool no_fat_chain = (stream[1] & kNoFatChainFlag) != 0;
    const std::uint8_t name_length = stream[3];
    const std::uint32_t first_cluster = *read_u32_le(stream, 20);
    const std::uint64_t data_length = *read_u64_le(stream, 24);
    if (type != kDeletedFileType || first_cluster < 2 || data_length == 0) continue;

    auto data_offset = cluster_offset(volume, first_cluster);
    if (!data_offset) return std::unexpected(data_offset.error());
    auto chain_offsets = deleted_file_offset_count(source, volume, first_cluster, data_length,
                                                   no_fat_chain, chain_memo);
    if (!chain_offsets) return std::unexpected(chain_offsets.error());
    const bool has_chain = *chain_offsets >= 2;
    std::string name = set_name(*set, set_entries, name_length);
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
