#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kestrel {

// UTF-16 units as UTF-8 text. Each surrogate without its partner turns into
// one U+FFFD; a lone high surrogate does not swallow the unit after it.
std::string decode_utf16_lossy(std::span<const char16_t> units);

// The same, but a surrogate without its partner makes the whole text invalid.
std::optional<std::string> decode_utf16_strict(std::span<const char16_t> units);

// The 16-bit units stored little-endian in `bytes`; a trailing odd byte is dropped.
std::u16string utf16_units_from_le_bytes(std::span<const std::uint8_t> bytes);

// UTF-8 text as UTF-16 units, for platform calls that take wide strings.
std::u16string encode_utf16(std::string_view utf8);

}  // namespace kestrel
