#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kestrel {

// Integers of either byte order at `at` in a buffer the caller has already
// checked to be long enough (file formats read in both orders). A field that
// does not fit reads as 0 rather than touching memory past the buffer.
template <typename T>
constexpr T load_be(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < sizeof(T)) return 0;
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) value = static_cast<T>((value << 8) | bytes[at + i]);
  return value;
}

template <typename T>
constexpr T load_le(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < sizeof(T)) return 0;
  T value = 0;
  for (std::size_t i = sizeof(T); i > 0; --i)
    value = static_cast<T>((value << 8) | bytes[at + i - 1]);
  return value;
}

// True when the bytes hold the ASCII text `text` at `at`.
constexpr bool holds_text(std::span<const std::uint8_t> bytes, std::size_t at,
                          std::string_view text) {
  if (at > bytes.size() || bytes.size() - at < text.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (bytes[at + i] != static_cast<std::uint8_t>(text[i])) return false;
  }
  return true;
}

}  // namespace kestrel
