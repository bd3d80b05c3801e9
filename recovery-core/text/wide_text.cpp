#include "recovery-core/text/wide_text.hpp"

#include "recovery-core/text/utf16.hpp"

namespace kestrel {

namespace {

std::u16string units_of(std::wstring_view wide) {
  std::u16string units;
  units.reserve(wide.size());
  for (const wchar_t unit : wide) units.push_back(static_cast<char16_t>(unit));
  return units;
}

}  // namespace

std::wstring wide_from_utf8(std::string_view utf8) {
  const std::u16string units = encode_utf16(utf8);
  return std::wstring(units.begin(), units.end());
}

std::string utf8_from_wide_lossy(std::wstring_view wide) {
  return decode_utf16_lossy(units_of(wide));
}

std::optional<std::string> utf8_from_wide_strict(std::wstring_view wide) {
  return decode_utf16_strict(units_of(wide));
}

}  // namespace kestrel
