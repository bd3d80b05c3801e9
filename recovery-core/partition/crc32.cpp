#include "recovery-core/partition/crc32.hpp"

#include <zlib.h>

#include <algorithm>

namespace kestrel {

std::uint32_t crc32_ieee(std::span<const std::uint8_t> bytes) {
  // zlib takes lengths as uInt; feed it in pieces so any span length works.
  constexpr std::size_t kPiece = 1u << 30;
  uLong crc = crc32(0L, Z_NULL, 0);
  while (!bytes.empty()) {
    const std::size_t n = std::min(bytes.size(), kPiece);
    crc = crc32(crc, bytes.data(), static_cast<uInt>(n));
    bytes = bytes.subspan(n);
  }
  return static_cast<std::uint32_t>(crc);
}

}  // namespace kestrel
