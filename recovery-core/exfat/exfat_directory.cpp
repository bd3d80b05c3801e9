#include "recovery-core/exfat/exfat_directory.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/chains/cluster_stream.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/exfat/exfat_deleted_file.hpp"
#include "recovery-core/exfat/exfat_entry_set.hpp"

namespace kestrel {

namespace {

using namespace exfat_entry;

constexpr std::uint64_t kEntryBytes = std::tuple_size_v<ExfatDirectoryEntry>;

// The directory's clusters: its FAT chain, or its contiguous run.
std::expected<std::vector<std::uint32_t>, RecoveryError> directory_clusters(
    ByteSource& source, const ExfatGeometry& volume, const ExfatDirectoryExtent& directory) {
  std::uint32_t wanted = kMaxChainClusters;
  if (directory.length) {
    KESTREL_TRY_ASSIGN(bytes_per_cluster, cluster_size(volume));
    wanted = std::min(clusters_needed(*directory.length, *bytes_per_cluster), kMaxChainClusters);
  }
  if (!directory.no_fat_chain)
    return follow_exfat_chain(source, volume.fat_offset, directory.first_cluster, wanted);
  // A run that leaves the heap fails in cluster_offset before its numbers could wrap.
  std::vector<std::uint32_t> run(directory.length ? wanted : 0);
  for (std::uint32_t i = 0; i < run.size(); ++i) run[i] = directory.first_cluster + i;
  return run;
}

// The directory's data as one byte stream, every cluster checked to lie in the heap.
std::expected<ClusterStream, RecoveryError> open_directory(ByteSource& source,
                                                           const ExfatGeometry& volume,
                                                           const ExfatDirectoryExtent& directory) {
  KESTREL_TRY_ASSIGN(bytes_per_cluster, cluster_size(volume));
  KESTREL_TRY_ASSIGN(clusters, directory_clusters(source, volume, directory));
  std::vector<std::uint64_t> offsets;
  offsets.reserve(clusters->size());
  for (const std::uint32_t cluster : *clusters) {
    KESTREL_TRY_ASSIGN(offset, cluster_offset(volume, cluster));
    offsets.push_back(*offset);
  }
  return ClusterStream(source, std::move(offsets), *bytes_per_cluster);
}

}  // namespace

std::expected<void, RecoveryError> scan_exfat_directory(
    ByteSource& source, const ExfatGeometry& volume, std::uint32_t partition_index,
    const ExfatDirectoryExtent& directory, CandidateBuilder& builder, CandidateSink& sink) {
  KESTREL_TRY_ASSIGN(data, open_directory(source, volume, directory));
  const std::uint64_t entry_count =
      std::min(data->length(), directory.length.value_or(data->length())) / kEntryBytes;
  std::uint64_t index = 0;
  while (index < entry_count) {
    KESTREL_TRY_ASSIGN(entry, data->bytes(index * kEntryBytes, kEntryBytes));
    const std::uint8_t type = (*entry)[kType];
    if (type == kEndOfDirectory) break;
    if ((type & kKindMask) != kFileKind) {
      ++index;
      continue;
    }
    const std::uint64_t set_entries = std::uint64_t{(*entry)[kSecondaryCount]} + 1;
    if (index + set_entries > entry_count) break;
    KESTREL_TRY_ASSIGN(set, data->bytes(index * kEntryBytes, set_entries * kEntryBytes));
    std::optional<DeletedFileFacts> file = exfat_deleted_file(*set, partition_index);
    const std::uint64_t set_offset = index * kEntryBytes;
    index += set_entries;
    if (!file) continue;
    // Unlike FAT32's, the number is not a source offset: it counts from the start
    // of the directory's data, the form by which recover has always found it.
    file->id = candidate_id(FilesystemKind::Exfat, partition_index, set_offset);
    KESTREL_TRY_ASSIGN(candidate, builder.build(std::move(*file)));
    if (sink.accept(std::move(*candidate)) == SinkReply::Stop) break;
  }
  return {};
}

std::expected<void, RecoveryError> scan_exfat_root(ByteSource& source, const ExfatGeometry& volume,
                                                   std::uint32_t partition_index,
                                                   std::uint32_t root_cluster,
                                                   CandidateSink& sink) {
  CandidateBuilder builder(source, cluster_area(volume), FilesystemKind::Exfat);
  return scan_exfat_directory(source, volume, partition_index,
                              ExfatDirectoryExtent{root_cluster, false, {}}, builder, sink);
}

}  // namespace kestrel
