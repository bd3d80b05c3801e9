#include "recovery-core/text/unicode.hpp"

#include "recovery-core/text/utf8.hpp"

namespace kestrel {

bool is_unicode_white_space(char32_t cp) {
  return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
         (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
         cp == 0x205F || cp == 0x3000;
}

namespace {

// Length in bytes of the white-space character that starts at text[i], or 0.
std::size_t white_space_length_at(std::string_view text, std::size_t i) {
  const unsigned char b = static_cast<unsigned char>(text[i]);
  std::size_t length = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
  if (i + length > text.size()) return 0;
  const std::u32string cps = utf8_to_code_points(text.substr(i, length));
  return cps.size() == 1 && is_unicode_white_space(cps[0]) ? length : 0;
}

// Length in bytes of the white-space character that ends just before text[end], or 0.
std::size_t white_space_length_before(std::string_view text, std::size_t end) {
  std::size_t start = end - 1;
  while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
    --start;
  }
  const std::size_t length = white_space_length_at(text, start);
  return start + length == end ? length : 0;
}

}  // namespace

std::string_view trim_unicode_white_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t n = white_space_length_at(text, begin);
    if (n == 0) break;
    begin += n;
  }
  std::size_t end = text.size();
  while (end > begin) {
    const std::size_t n = white_space_length_before(text, end);
    if (n == 0) break;
    end -= n;
  }
  return text.substr(begin, end - begin);
}

}  // namespace kestrel
