#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>

#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// Little-endian integers at `offset` in a buffer whose size is known only when
// running. Reading past the buffer's end fails with "field outside buffer" (an
// invalid-structure error) rather than touching memory beyond it.
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

// A little-endian field of a fixed-size record (a directory entry) at an offset
// known when compiling, e.g. field_le<std::uint32_t, kFileSize>(entry). A field
// that does not fit the record does not compile, so no run-time check is needed.
template <typename T, std::size_t Offset, std::size_t Size>
constexpr T field_le(const std::array<std::uint8_t, Size>& record) {
  static_assert(Offset + sizeof(T) <= Size, "field outside the record");
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    value = static_cast<T>(value | (static_cast<T>(record[Offset + i]) << (8 * i)));
  }
  return value;
}

// Appends little-endian integers to a byte string (used by digests and tests).
void append_u32_le(std::basic_string<std::uint8_t>& out, std::uint32_t value);
void append_u64_le(std::basic_string<std::uint8_t>& out, std::uint64_t value);

}  // namespace kestrel
