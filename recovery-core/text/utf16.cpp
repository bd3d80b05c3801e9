#include "recovery-core/text/utf16.hpp"

#include "recovery-core/text/utf8.hpp"

namespace kestrel {

namespace {

bool is_high_surrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Decodes units, calling on_unpaired for each unpaired surrogate; stops early
// when on_unpaired returns false.
template <typename OnUnpaired>
bool decode_into(std::span<const char16_t> units, std::string& out, OnUnpaired on_unpaired) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    if (is_high_surrogate(unit)) {
      if (i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
        const char32_t cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                            (static_cast<char32_t>(units[i + 1]) - 0xDC00);
        append_utf8(out, cp);
        ++i;
        continue;
      }
      if (!on_unpaired()) return false;
      append_utf8(out, 0xFFFD);
    } else if (is_low_surrogate(unit)) {
      if (!on_unpaired()) return false;
      append_utf8(out, 0xFFFD);
    } else {
      append_utf8(out, unit);
    }
  }
  return true;
}

}  // namespace

std::string decode_utf16_lossy(std::span<const char16_t> units) {
  std::string out;
  decode_into(units, out, [] { return true; });
  return out;
}

std::optional<std::string> decode_utf16_strict(std::span<const char16_t> units) {
  std::string out;
  if (!decode_into(units, out, [] { return false; })) return std::nullopt;
  return out;
}

std::u16string utf16_units_from_le_bytes(std::span<const std::uint8_t> bytes) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  return units;
}

std::u16string encode_utf16(std::string_view utf8) {
  std::u16string out;
  for (char32_t cp : utf8_to_code_points(utf8)) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

}  // namespace kestrel
