#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

// The longest name a destination holds in one path component: 255 bytes on
// Linux, 255 UTF-16 units on Windows.
inline constexpr std::size_t kMaxOutputNameLength = 255;

// The length of UTF-8 text as the destination counts a name: its bytes on
// Linux; on Windows its UTF-16 units (two for a character beyond U+FFFF, one
// for every other character and for each byte that is not UTF-8).
std::size_t output_name_length(std::string_view name);

// `stem` followed by `tail`, the stem cut after its last whole character that
// lets the two fit kMaxOutputNameLength. A tail too long to leave room for one
// more character of any size is not kept apart: the whole text is cut instead.
std::string fit_output_name(std::string_view stem, std::string_view tail);

}  // namespace kestrel
