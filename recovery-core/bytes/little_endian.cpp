#include "recovery-core/bytes/little_endian.hpp"

#include <string>

namespace kestrel {

namespace {

template <typename T>
std::expected<T, RecoveryError> read_le(std::span<const std::uint8_t> buffer, std::size_t offset) {
  if (offset > buffer.size() || buffer.size() - offset < sizeof(T)) {
    return std::unexpected(RecoveryError::invalid_structure("field outside buffer"));
  }
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    value = static_cast<T>(value | (static_cast<T>(buffer[offset + i]) << (8 * i)));
  }
  return value;
}

}  // namespace

std::expected<std::uint8_t, RecoveryError> read_u8(std::span<const std::uint8_t> buffer,
                                                   std::size_t offset) {
  return read_le<std::uint8_t>(buffer, offset);
}

std::expected<std::uint16_t, RecoveryError> read_u16_le(std::span<const std::uint8_t> buffer,
                                                        std::size_t offset) {
  return read_le<std::uint16_t>(buffer, offset);
}

std::expected<std::uint32_t, RecoveryError> read_u32_le(std::span<const std::uint8_t> buffer,
                                                        std::size_t offset) {
  return read_le<std::uint32_t>(buffer, offset);
}

std::expected<std::uint64_t, RecoveryError> read_u64_le(std::span<const std::uint8_t> buffer,
                                                        std::size_t offset) {
  return read_le<std::uint64_t>(buffer, offset);
}

std::expected<std::span<const std::uint8_t>, RecoveryError> read_bytes(
    std::span<const std::uint8_t> buffer, std::size_t offset, std::size_t length) {
  if (offset > buffer.size() || buffer.size() - offset < length) {
    return std::unexpected(RecoveryError::invalid_structure("field outside buffer"));
  }
  return buffer.subspan(offset, length);
}

void append_u32_le(std::basic_string<std::uint8_t>& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void append_u64_le(std::basic_string<std::uint8_t>& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace kestrel
