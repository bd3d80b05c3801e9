#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kestrel {

// Decodes bytes as UTF-8, replacing each maximal invalid subsequence with one
// U+FFFD. The result is always valid UTF-8.
std::string decode_utf8_lossy(std::string_view bytes);
std::string decode_utf8_lossy(std::span<const std::uint8_t> bytes);

// True when the bytes are well-formed UTF-8.
bool is_valid_utf8(std::string_view bytes);

// Appends the UTF-8 encoding of a Unicode scalar value.
void append_utf8(std::string& out, char32_t code_point);

// Splits valid UTF-8 text into code points (used by the text rules that walk
// characters). Invalid input yields U+FFFD for each maximal invalid subsequence.
std::u32string utf8_to_code_points(std::string_view text);

}  // namespace kestrel
