#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>

#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// Little-endian fields read from a buffer with a bounds check; a field that
// would extend past the buffer is the invalid-structure error "field outside buffer".
std::expected<std::uint8_t, RecoveryError> read_u8(std::span<const std::uint8_t> buffer,
                                                   std::size_t offset);
std::expected<std::uint16_t, RecoveryError> read_u16_le(std::span<const std::uint8_t> buffer,
                                                        std::size_t offset);
std::expected<std::uint32_t, RecoveryError> read_u32_le(std::span<const std::uint8_t> buffer,
                                                        std::size_t offset);
std::expected<std::uint64_t, RecoveryError> read_u64_le(std::span<const std::uint8_t> buffer,
                                                        std::size_t offset);
// A sub-range of the buffer, bounds-checked the same way.
std::expected<std::span<const std::uint8_t>, RecoveryError> read_bytes(
    std::span<const std::uint8_t> buffer, std::size_t offset, std::size_t length);

// Appends little-endian integers to a byte string (used by digests and tests).
void append_u32_le(std::basic_string<std::uint8_t>& out, std::uint32_t value);
void append_u64_le(std::basic_string<std::uint8_t>& out, std::uint64_t value);

}  // namespace kestrel
