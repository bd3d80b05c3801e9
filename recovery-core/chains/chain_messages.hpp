#pragma once

#include <string_view>

namespace kestrel {

// The invalid-structure texts of the cluster arithmetic, kept together for review.
inline constexpr std::string_view kFat32ClusterOutsideDataArea = "FAT32 cluster outside data area";
inline constexpr std::string_view kFat16ClusterOutsideDataArea = "FAT16 cluster outside data area";
inline constexpr std::string_view kFat12ClusterOutsideDataArea = "FAT12 cluster outside data area";
inline constexpr std::string_view kExfatClusterOutsideHeap = "exFAT cluster outside heap";
inline constexpr std::string_view kChainShorterThanFile = "cluster chain is shorter than the file";

}  // namespace kestrel
