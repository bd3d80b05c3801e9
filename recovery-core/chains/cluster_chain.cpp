#include "recovery-core/chains/cluster_chain.hpp"

#include <algorithm>
#include <limits>
#include <unordered_set>

#include "recovery-core/chains/chain_messages.hpp"
#include "recovery-core/chains/chain_walk.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

constexpr std::uint32_t kFat32EntryMask = 0x0FFFFFFF;
constexpr std::uint32_t kFat32Bad = 0x0FFFFFF7;
constexpr std::uint32_t kExfatBad = 0xFFFFFFF7;

// cluster_count + 2, saturating at 2^32 - 1: the first cluster number past the volume.
std::uint32_t cluster_limit(std::uint32_t cluster_count) {
  const std::uint64_t limit = static_cast<std::uint64_t>(cluster_count) + 2;
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(limit, std::numeric_limits<std::uint32_t>::max()));
}

// The walk shared by both file systems.
template <typename Links>
ChainWalk walk_chain(FatEntryReader& read, std::uint64_t fat_offset, const Links& links,
                     std::uint32_t first_cluster, std::uint32_t wanted) {
  ChainWalk walk;
  if (!links.starts_at(first_cluster)) return walk;
  // A walk below the cap stops as soon as it holds what it wants; at the cap it
  // reads the last cluster's entry too, as a full walk does.
  const std::uint32_t limit = std::min(wanted, kMaxChainClusters);
  const bool limited = limit < kMaxChainClusters;
  if (limit == 0) return walk;
  std::unordered_set<std::uint32_t> seen;
  std::uint32_t cluster = first_cluster;
  for (;;) {
    if (walk.clusters.size() >= kMaxChainClusters || !seen.insert(cluster).second) break;
    walk.clusters.push_back(cluster);
    if (limited && walk.clusters.size() >= limit) break;
    auto entry = read(fat_offset, cluster);
    if (!entry) {
      walk.failure = std::move(entry.error());
      break;
    }
    const std::optional<std::uint32_t> next = links.next(*entry);
    if (!next) break;
    cluster = *next;
  }
  return walk;
}

template <typename Volume>
std::expected<std::uint64_t, RecoveryError> offset_in_area(const Volume& volume,
                                                           std::uint64_t area_offset,
                                                           std::uint32_t cluster,
                                                           std::string_view outside_text) {
  if (cluster < 2 || cluster >= cluster_limit(volume.cluster_count)) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(outside_text)));
  }
  KESTREL_TRY_ASSIGN(size, cluster_size(volume));
  KESTREL_TRY_ASSIGN(relative, checked_mul(*size, static_cast<std::uint64_t>(cluster) - 2));
  return checked_add(area_offset, *relative);
}

template <typename Volume>
std::expected<std::vector<std::uint64_t>, RecoveryError> map_offsets(
    const std::vector<std::uint32_t>& chain, std::uint32_t needed, const Volume& volume) {
  if (chain.size() < needed) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kChainShorterThanFile)));
  }
  std::vector<std::uint64_t> offsets;
  offsets.reserve(needed);
  for (std::uint32_t i = 0; i < needed; ++i) {
    KESTREL_TRY_ASSIGN(offset, cluster_offset(volume, chain[i]));
    offsets.push_back(*offset);
  }
  return offsets;
}

template <typename Volume>
std::expected<std::uint32_t, RecoveryError> bytes_per_cluster(const Volume& volume) {
  const std::uint64_t product =
      static_cast<std::uint64_t>(volume.bytes_per_sector) * volume.sectors_per_cluster;
  if (product > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(RecoveryError::byte_range_overflow());
  }
  return static_cast<std::uint32_t>(product);
}

std::expected<std::vector<std::uint32_t>, RecoveryError> chain_or_failure(ChainWalk walk) {
  if (walk.failure) return std::unexpected(std::move(*walk.failure));
  return std::move(walk.clusters);
}

}  // namespace

Fat32Links::Fat32Links(std::uint32_t cluster_count) : limit(cluster_limit(cluster_count)) {}

std::optional<std::uint32_t> Fat32Links::next(std::uint32_t entry) const {
  const std::uint32_t next = entry & kFat32EntryMask;
  if (next < 2 || next >= kFat32Bad || next >= limit) return std::nullopt;
  return next;
}

std::optional<std::uint32_t> ExfatLinks::next(std::uint32_t entry) const {
  if (entry < 2 || entry >= kExfatBad) return std::nullopt;
  return entry;
}

ChainWalk walk_fat32_chain(FatEntryReader& read, std::uint64_t fat_offset,
                           std::uint32_t cluster_count, std::uint32_t first_cluster,
                           std::uint32_t wanted) {
  return walk_chain(read, fat_offset, Fat32Links(cluster_count), first_cluster, wanted);
}

ChainWalk walk_exfat_chain(FatEntryReader& read, std::uint64_t fat_offset,
                           std::uint32_t first_cluster, std::uint32_t wanted) {
  return walk_chain(read, fat_offset, ExfatLinks{}, first_cluster, wanted);
}

std::expected<std::vector<std::uint32_t>, RecoveryError> follow_fat32_chain(
    ByteSource& source, std::uint64_t fat_offset, std::uint32_t cluster_count,
    std::uint32_t first_cluster, std::uint32_t wanted) {
  FatEntryReader read(source);
  return chain_or_failure(walk_fat32_chain(read, fat_offset, cluster_count, first_cluster, wanted));
}

std::expected<std::vector<std::uint32_t>, RecoveryError> follow_exfat_chain(
    ByteSource& source, std::uint64_t fat_offset, std::uint32_t first_cluster,
    std::uint32_t wanted) {
  FatEntryReader read(source);
  return chain_or_failure(walk_exfat_chain(read, fat_offset, first_cluster, wanted));
}

std::expected<std::uint32_t, RecoveryError> cluster_size(const FatGeometry& volume) {
  return bytes_per_cluster(volume);
}

std::expected<std::uint32_t, RecoveryError> cluster_size(const ExfatGeometry& volume) {
  return bytes_per_cluster(volume);
}

std::expected<std::uint64_t, RecoveryError> cluster_offset(const FatGeometry& volume,
                                                           std::uint32_t cluster) {
  const std::string_view outside = volume.width == FatWidth::Fat12   ? kFat12ClusterOutsideDataArea
                                   : volume.width == FatWidth::Fat16 ? kFat16ClusterOutsideDataArea
                                                                     : kFat32ClusterOutsideDataArea;
  return offset_in_area(volume, volume.data_offset, cluster, outside);
}

std::expected<std::uint64_t, RecoveryError> cluster_offset(const ExfatGeometry& volume,
                                                           std::uint32_t cluster) {
  return offset_in_area(volume, volume.heap_offset, cluster, kExfatClusterOutsideHeap);
}

std::expected<std::vector<std::uint64_t>, RecoveryError> map_cluster_offsets(
    const std::vector<std::uint32_t>& chain, std::uint32_t needed, const FatGeometry& volume) {
  return map_offsets(chain, needed, volume);
}

std::expected<std::vector<std::uint64_t>, RecoveryError> map_cluster_offsets(
    const std::vector<std::uint32_t>& chain, std::uint32_t needed, const ExfatGeometry& volume) {
  return map_offsets(chain, needed, volume);
}

std::uint32_t clusters_needed(std::uint64_t size, std::uint32_t cluster_size) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
  if (size == 0) return 0;
  // No cluster holds a byte: no count of clusters is enough.
  if (cluster_size == 0) return static_cast<std::uint32_t>(kMax);
  const std::uint64_t clusters = size / cluster_size + (size % cluster_size != 0 ? 1 : 0);
  return static_cast<std::uint32_t>(std::min(clusters, kMax));
}

namespace {

std::optional<std::uint64_t> area_end(std::uint64_t area_offset, std::uint32_t cluster_count,
                                      std::expected<std::uint32_t, RecoveryError> cluster_bytes) {
  if (!cluster_bytes) return std::nullopt;
  auto length = checked_mul(cluster_count, *cluster_bytes);
  if (!length) return std::nullopt;
  auto end = checked_add(area_offset, *length);
  return end ? std::optional(*end) : std::nullopt;
}

}  // namespace

std::optional<std::uint64_t> cluster_area_end(const VolumeGeometry& volume) {
  if (const auto* fat = std::get_if<FatGeometry>(&volume)) {
    return area_end(fat->data_offset, fat->cluster_count, cluster_size(*fat));
  }
  if (const auto* exfat = std::get_if<ExfatGeometry>(&volume)) {
    return area_end(exfat->heap_offset, exfat->cluster_count, cluster_size(*exfat));
  }
  return std::nullopt;
}

}  // namespace kestrel
