#include "recovery-core/exfat/exfat_deleted_file.hpp"

#include "recovery-core/exfat/exfat_entry_dates.hpp"
#include "recovery-core/exfat/exfat_entry_set.hpp"
#include "recovery-core/exfat/exfat_messages.hpp"

namespace kestrel {

std::optional<DeletedFileFacts> exfat_deleted_file(std::span<const std::uint8_t> set,
                                                   std::uint32_t partition_index) {
  if (set.empty() || set[exfat_entry::kType] != exfat_entry::kDeletedFileType) return std::nullopt;
  return exfat_file_facts(set, partition_index);
}

std::optional<DeletedFileFacts> exfat_file_facts(std::span<const std::uint8_t> set,
                                                 std::uint32_t partition_index) {
  const std::optional<ExfatStreamFacts> stream = find_stream_extension(set);
  if (!stream || stream->first_cluster < 2 || stream->data_length == 0) return std::nullopt;
  DeletedFileFacts facts;
  facts.partition_index = partition_index;
  facts.name = entry_set_name(set, stream->name_length);
  if (facts.name.empty()) facts.name = kExfatUnnamedFile;
  facts.size = stream->data_length;
  facts.first_cluster = stream->first_cluster;
  facts.no_fat_chain = stream->no_fat_chain;
  facts.deleted = (set[exfat_entry::kType] & exfat_entry::kInUseBit) == 0;
  facts.dates = exfat_entry_dates_of(set);
  return facts;
}

std::string exfat_folder_candidate_id(std::uint32_t partition_index,
                                      std::uint32_t directory_cluster, std::uint64_t entry_offset) {
  return candidate_id(FilesystemKind::Exfat, partition_index, directory_cluster) + ":" +
         std::to_string(entry_offset);
}

}  // namespace kestrel
