#pragma once

#include <string_view>

namespace kestrel {

// The invalid-structure text of the chain rules (each file system names its own
// text for a cluster outside its area).
inline constexpr std::string_view kChainShorterThanFile = "cluster chain is shorter than the file";

}  // namespace kestrel
