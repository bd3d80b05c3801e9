#pragma once

#include <cstdint>
#include <vector>

namespace kestrel::testing {

// Chains laid out by hand in an in-memory image, for the FAT arithmetic tests.

// Writes the 32-bit little-endian FAT entry of `cluster` in a FAT at `fat_offset`,
// growing the image (with zero bytes) as needed.
void set_fat_entry(std::vector<std::uint8_t>& image, std::uint64_t fat_offset,
                   std::uint32_t cluster, std::uint32_t value);

// Links the clusters in the given order and gives the last one the entry `end`.
void link_chain(std::vector<std::uint8_t>& image, std::uint64_t fat_offset,
                const std::vector<std::uint32_t>& clusters, std::uint32_t end);

// Clusters first, first + 1, ..., first + count - 1.
std::vector<std::uint32_t> cluster_run(std::uint32_t first, std::uint32_t count);

}  // namespace kestrel::testing
