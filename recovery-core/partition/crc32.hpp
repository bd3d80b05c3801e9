#pragma once

#include <cstdint>
#include <span>

namespace kestrel {

// The CRC-32 of ISO 3309 / IEEE 802.3 (reflected polynomial 0xEDB88320,
// initial value and final complement 0xFFFFFFFF) over the bytes; 0 for none.
std::uint32_t crc32_ieee(std::span<const std::uint8_t> bytes);

}  // namespace kestrel
