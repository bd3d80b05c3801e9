#pragma once

#include <cstdint>
#include <span>

namespace kestrel {

// The common CRC-32 (the one zlib, Ethernet and GPT use: polynomial
// 0xEDB88320 in reflected form, register preset to all ones and inverted at
// the end) over the bytes. No bytes give 0.
std::uint32_t crc32_ieee(std::span<const std::uint8_t> bytes);

}  // namespace kestrel
