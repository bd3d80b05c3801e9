#include "recovery-core/content/file_end/text_unit.hpp"

#include <algorithm>

namespace kestrel {

bool holds_only_text(std::span<const std::uint8_t> bytes) {
  return !bytes.empty() && std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) {
    return (b >= 0x20 && b <= 0x7E) || b == '\t' || b == '\n' || b == '\r';
  });
}

bool holds_only_zeros(std::span<const std::uint8_t> bytes) {
  return !bytes.empty() &&
         std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace kestrel
