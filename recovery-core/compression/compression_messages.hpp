#pragma once

#include <string_view>

namespace kestrel {

// Invalid structure: compressed data whose chunks cannot be decoded.
inline constexpr std::string_view kDamagedLznt1Chunk = "compressed data chunk is damaged";

}  // namespace kestrel
