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

constexpr std::uint32_t kLink28Mask = 0x0FFFFFFF;
constexpr std::uint32_t kLink28Bad = 0x0FFFFFF7;
constexpr std::uint32_t kLink32Bad = 0xFFFFFFF7;

// cluster_count + 2, saturating at 2^32 - 1: the first cluster number past the volume.
std::uint32_t cluster_limit(std::uint32_t cluster_count) {
  const std::uint64_t limit = static_cast<std::uint64_t>(cluster_count) + 2;
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(limit, std::numeric_limits<std::uint32_t>::max()));
}

// The walk under either link rule.
ChainWalk walk_chain(TableEntryReader& read, std::uint64_t fat_offset, const ChainLinks& links,
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

std::expected<std::vector<std::uint32_t>, RecoveryError> chain_or_failure(ChainWalk walk) {
  if (walk.failure) return std::unexpected(std::move(*walk.failure));
  return std::move(walk.clusters);
}

}  // namespace

ChainLinks ChainLinks::bounded(std::uint32_t cluster_count) {
  const std::uint32_t limit = cluster_limit(cluster_count);
  return {kLink28Mask, kLink28Bad, limit, limit};
}

ChainLinks ChainLinks::unbounded() {
  // Every start up to the bad value itself; successors end only at it.
  return {0xFFFFFFFF, kLink32Bad, 0xFFFFFFFF, kLink32Bad + 1};
}

ChainLinks ChainLinks::of(const ClusterArea& area) {
  return area.links == LinkRule::Unbounded32 ? unbounded() : bounded(area.cluster_count);
}

ChainWalk walk_fat32_chain(TableEntryReader& read, std::uint64_t fat_offset,
                           std::uint32_t cluster_count, std::uint32_t first_cluster,
                           std::uint32_t wanted) {
  return walk_chain(read, fat_offset, ChainLinks::bounded(cluster_count), first_cluster, wanted);
}

ChainWalk walk_exfat_chain(TableEntryReader& read, std::uint64_t fat_offset,
                           std::uint32_t first_cluster, std::uint32_t wanted) {
  return walk_chain(read, fat_offset, ChainLinks::unbounded(), first_cluster, wanted);
}

ChainWalk walk_area_chain(TableEntryReader& read, const ClusterArea& area,
                          std::uint32_t first_cluster, std::uint32_t wanted) {
  return walk_chain(read, area.table_offset, ChainLinks::of(area), first_cluster, wanted);
}

std::expected<std::vector<std::uint32_t>, RecoveryError> follow_fat32_chain(
    ByteSource& source, std::uint64_t fat_offset, std::uint32_t cluster_count,
    std::uint32_t first_cluster, std::uint32_t wanted) {
  TableEntryReader read(source);
  return chain_or_failure(walk_fat32_chain(read, fat_offset, cluster_count, first_cluster, wanted));
}

std::expected<std::vector<std::uint32_t>, RecoveryError> follow_exfat_chain(
    ByteSource& source, std::uint64_t fat_offset, std::uint32_t first_cluster,
    std::uint32_t wanted) {
  TableEntryReader read(source);
  return chain_or_failure(walk_exfat_chain(read, fat_offset, first_cluster, wanted));
}

std::expected<std::uint32_t, RecoveryError> cluster_size(const ClusterArea& area) {
  const std::uint64_t product =
      static_cast<std::uint64_t>(area.bytes_per_sector) * area.sectors_per_cluster;
  if (product > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(RecoveryError::byte_range_overflow());
  }
  return static_cast<std::uint32_t>(product);
}

std::expected<std::uint64_t, RecoveryError> cluster_offset(const ClusterArea& area,
                                                           std::uint32_t cluster) {
  if (cluster < 2 || cluster >= cluster_limit(area.cluster_count)) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(area.outside_text)));
  }
  KESTREL_TRY_ASSIGN(size, cluster_size(area));
  KESTREL_TRY_ASSIGN(relative, checked_mul(*size, static_cast<std::uint64_t>(cluster) - 2));
  return checked_add(area.data_offset, *relative);
}

std::expected<std::vector<std::uint64_t>, RecoveryError> map_cluster_offsets(
    const std::vector<std::uint32_t>& chain, std::uint32_t needed, const ClusterArea& area) {
  if (chain.size() < needed) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kChainShorterThanFile)));
  }
  std::vector<std::uint64_t> offsets;
  offsets.reserve(needed);
  for (std::uint32_t i = 0; i < needed; ++i) {
    KESTREL_TRY_ASSIGN(offset, cluster_offset(area, chain[i]));
    offsets.push_back(*offset);
  }
  return offsets;
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

std::optional<std::uint64_t> cluster_area_end(const DataLayout& layout) {
  const auto* area = std::get_if<ClusterArea>(&layout);
  if (area == nullptr) return std::nullopt;
  return area_end(area->data_offset, area->cluster_count, cluster_size(*area));
}

}  // namespace kestrel
