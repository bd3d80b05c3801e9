#include "recovery-core/exfat/exfat_allocation_bitmap.hpp"

#include <algorithm>
#include <vector>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/chains/cluster_stream.hpp"
#include "recovery-core/exfat/exfat_entry_set.hpp"

namespace kestrel {

namespace {

constexpr std::uint8_t kBitmapType = 0x81;
// The bitmap's entry comes first in every root that tools write; a root that
// has not shown it by then is not searched further.
constexpr std::uint32_t kRootClustersSearched = 16;
constexpr std::uint64_t kEntriesSearched = 4096;

std::optional<ExfatAllocationBitmap> usable_bitmap(const ExfatVolume& volume, std::uint32_t first_cluster,
                                                   std::uint64_t length) {
  auto offset = cluster_offset(volume, first_cluster);
  auto bytes_per_cluster = cluster_size(volume);
  if (!offset || !bytes_per_cluster) return std::nullopt;
  const std::uint64_t needed = (std::uint64_t{volume.cluster_count} + 7) / 8;
  const std::uint64_t heap_end = volume.heap_offset + std::uint64_t{volume.cluster_count} * *bytes_per_cluster;
  if (length < needed || *offset + needed > heap_end) return std::nullopt;
  return ExfatAllocationBitmap{*offset, needed};
}

}  // namespace

std::expected<std::optional<ExfatAllocationBitmap>, RecoveryError> find_exfat_allocation_bitmap(
    ByteSource& source, const ExfatVolume& volume, std::uint32_t root_cluster) {
  auto bytes_per_cluster = cluster_size(volume);
  if (!bytes_per_cluster) return std::unexpected(bytes_per_cluster.error());
  auto chain = follow_exfat_chain(source, volume.fat_offset, root_cluster, kRootClustersSearched);
  if (!chain) return std::unexpected(chain.error());
  std::vector<std::uint64_t> offsets;
  for (const std::uint32_t cluster : *chain) {
    auto offset = cluster_offset(volume, cluster);
    if (!offset) return std::optional<ExfatAllocationBitmap>{};
    offsets.push_back(*offset);
  }
  ClusterStream root(source, std::move(offsets), *bytes_per_cluster);
  const std::uint64_t entries = std::min(root.length() / 32, kEntriesSearched);
  for (std::uint64_t index = 0; index < entries; ++index) {
    auto entry = root.bytes(index * 32, 32);
    if (!entry) return std::unexpected(entry.error());
    const std::uint8_t type = (*entry)[exfat_entry::kType];
    if (type == exfat_entry::kEndOfDirectory) break;
    if (type != kBitmapType) continue;
    return usable_bitmap(volume, load_le<std::uint32_t>(*entry, 20), load_le<std::uint64_t>(*entry, 24));
  }
  return std::optional<ExfatAllocationBitmap>{};
}

}  // namespace kestrel
