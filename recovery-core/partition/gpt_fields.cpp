#include <algorithm>
#include <array>

#include "recovery-core/partition/partition_messages.hpp"
#include "recovery-core/partition/partition_table.hpp"
#include "recovery-core/text/utf16.hpp"

namespace kestrel {

namespace {

constexpr std::size_t kGuidLength = 16;
constexpr std::size_t kNameUnits = 36;

void append_hex_byte(std::string& out, std::uint8_t byte) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out.push_back(kDigits[byte >> 4]);
  out.push_back(kDigits[byte & 0x0F]);
}

}  // namespace

std::expected<std::string, RecoveryError> format_guid(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != kGuidLength) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kInvalidGuidLength)));
  }
  // The first three groups are little-endian numbers, the last two plain bytes.
  static constexpr std::array<std::size_t, 16> kOrder = {3, 2, 1,  0,  5,  4,  7,  6,
                                                         8, 9, 10, 11, 12, 13, 14, 15};
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < kOrder.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    append_hex_byte(text, bytes[kOrder[i]]);
  }
  return text;
}

std::optional<std::string> decode_gpt_name(std::span<const std::uint8_t> field) {
  std::u16string units =
      utf16_units_from_le_bytes(field.first(std::min(field.size(), 2 * kNameUnits)));
  units.erase(std::find(units.begin(), units.end(), u'\0'), units.end());
  std::string name = decode_utf16_lossy(units);
  if (name.empty()) return std::nullopt;
  return name;
}

}  // namespace kestrel
