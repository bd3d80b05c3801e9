#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// Bytes an LZNT1 chunk gives back at most.
inline constexpr std::size_t kLznt1ChunkBytes = 4096;

// Fills `output` from the LZNT1 chunks at the start of `input`: each chunk is
// a 16-bit header (its length, and whether it is compressed) and gives back up
// to 4 KiB; a chunk that gives back less is followed by zeros up to the next
// 4 KiB. The chunks end at a zero header, at the end of `input` or once
// `output` is full; output they do not reach is zeros. A chunk that claims
// bytes past `input`, or a back reference before the start of its chunk, is
// damaged data: the invalid-structure error.
std::expected<void, RecoveryError> decompress_lznt1(std::span<const std::uint8_t> input,
                                                    std::span<std::uint8_t> output);

}  // namespace kestrel
