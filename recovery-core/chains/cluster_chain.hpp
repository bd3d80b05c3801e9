#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "recovery-core/chains/volume_geometry.hpp"
#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// The most clusters any chain walk collects.
inline constexpr std::uint32_t kMaxChainClusters = 65536;

// Follows a FAT32 chain from `first_cluster` through the first FAT: stops at a
// free, reserved, bad or end entry, a cluster outside the volume, a loop, the
// 65,536-cluster cap, or once `wanted` clusters are held (wanted defaults to the cap).
// A walk that wants fewer than the cap stops as soon as it holds them, without
// reading the FAT entry of its last cluster. A FAT entry that cannot be read is the error.
std::expected<std::vector<std::uint32_t>, RecoveryError> follow_fat32_chain(
    ByteSource& source, std::uint64_t fat_offset, std::uint32_t cluster_count,
    std::uint32_t first_cluster, std::uint32_t wanted = kMaxChainClusters);

// Follows an exFAT chain; there is no bound by the cluster count here (a stray
// entry beyond the heap is appended and fails later in cluster_offset).
std::expected<std::vector<std::uint32_t>, RecoveryError> follow_exfat_chain(
    ByteSource& source, std::uint64_t fat_offset, std::uint32_t first_cluster,
    std::uint32_t wanted = kMaxChainClusters);

std::expected<std::uint32_t, RecoveryError> cluster_size(const Fat32Volume& volume);
std::expected<std::uint32_t, RecoveryError> cluster_size(const ExfatVolume& volume);

// Absolute offset of a cluster ("FAT32 cluster outside data area" /
// "exFAT cluster outside heap" for a cluster outside 2 .. cluster_count + 1).
std::expected<std::uint64_t, RecoveryError> cluster_offset(const Fat32Volume& volume,
                                                           std::uint32_t cluster);
std::expected<std::uint64_t, RecoveryError> cluster_offset(const ExfatVolume& volume,
                                                           std::uint32_t cluster);

// The offsets of the first `needed` clusters of the chain, in order; the first cluster
// without an offset is its error. A chain shorter than `needed` is the invalid-structure
// error "cluster chain is shorter than the file" (callers map only chains that hold them).
std::expected<std::vector<std::uint64_t>, RecoveryError> map_cluster_offsets(
    const std::vector<std::uint32_t>& chain, std::uint32_t needed, const Fat32Volume& volume);
std::expected<std::vector<std::uint64_t>, RecoveryError> map_cluster_offsets(
    const std::vector<std::uint32_t>& chain, std::uint32_t needed, const ExfatVolume& volume);

// ceil(size / cluster_size), saturating at 2^32 - 1.
std::uint32_t clusters_needed(std::uint64_t size, std::uint32_t cluster_size);

}  // namespace kestrel
