#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <vector>

#include "recovery-core/chains/cluster_area.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// No chain walk collects more clusters than this, whatever the FAT says.
inline constexpr std::uint32_t kMaxChainClusters = 65536;

// The clusters linked from `first_cluster` in the first FAT, in order. The
// walk ends where the FAT marks no successor (free, reserved, bad, end of
// chain) or names one outside the volume, when a cluster comes round again,
// or at the cap. Asked for fewer than the cap, it also ends as soon as it holds
// `wanted`, leaving the last one's FAT entry unread. A FAT entry that cannot
// be read fails the call.
std::expected<std::vector<std::uint32_t>, RecoveryError> follow_fat32_chain(
    ByteSource& source, std::uint64_t fat_offset, std::uint32_t cluster_count,
    std::uint32_t first_cluster, std::uint32_t wanted = kMaxChainClusters);

// The same walk over an exFAT FAT. Successors are not checked against the
// cluster count: one past the heap joins the chain, and it is cluster_offset
// that refuses it when the chain is mapped.
std::expected<std::vector<std::uint32_t>, RecoveryError> follow_exfat_chain(
    ByteSource& source, std::uint64_t fat_offset, std::uint32_t first_cluster,
    std::uint32_t wanted = kMaxChainClusters);

// Bytes per cluster; a product past 32 bits is the byte-range-overflow error.
std::expected<std::uint32_t, RecoveryError> cluster_size(const ClusterArea& area);

// Where a cluster's data starts in the source. Cluster numbers run from 2 to
// cluster_count + 1; any other number is an invalid-structure error with the
// area's outside_text.
std::expected<std::uint64_t, RecoveryError> cluster_offset(const ClusterArea& area,
                                                           std::uint32_t cluster);

// cluster_offset of each of the chain's first `needed` clusters; the first
// failure is the result. Callers map only chains long enough for the file, so
// a shorter one is reported as an invalid structure.
std::expected<std::vector<std::uint64_t>, RecoveryError> map_cluster_offsets(
    const std::vector<std::uint32_t>& chain, std::uint32_t needed, const ClusterArea& area);

// The end of the cluster area: cluster 2's offset plus cluster_count clusters.
// An area whose end does not fit 64 bits has none, nor has one without clusters.
std::optional<std::uint64_t> cluster_area_end(const DataLayout& layout);

// How many clusters hold `size` bytes (rounded up), at most 2^32 - 1.
std::uint32_t clusters_needed(std::uint64_t size, std::uint32_t cluster_size);

}  // namespace kestrel
