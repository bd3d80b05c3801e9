#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// True for the characters with the Unicode White_Space property.
bool is_unicode_white_space(char32_t code_point);

// The text without leading and trailing Unicode White_Space characters.
std::string_view trim_unicode_white_space(std::string_view utf8);

// The full Unicode upper-case mapping of the text (one character may become
// several: "ß" becomes "SS"), independent of any locale. Invalid UTF-8 comes
// out as U+FFFD. Linux and Windows share the same generated table, so both
// upper-case alike.
std::string to_upper_full(std::string_view utf8);

// The full upper-case mapping of one code point (one to three code points), or
// nothing when the code point is its own upper case.
std::optional<std::u32string_view> full_upper_case_mapping(char32_t code_point);

}  // namespace kestrel
