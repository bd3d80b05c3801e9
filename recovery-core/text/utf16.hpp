#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kestrel {

// Decodes UTF-16 code units; an unpaired surrogate becomes U+FFFD (a high
// surrogate followed by a non-low unit yields U+FFFD and the following unit is
// decoded on its own).
std::string decode_utf16_lossy(std::span<const char16_t> units);

// Decodes UTF-16 code units; any unpaired surrogate rejects the whole text.
std::optional<std::string> decode_utf16_strict(std::span<const char16_t> units);

// Reads little-endian 16-bit code units from bytes (an odd last byte is ignored).
std::u16string utf16_units_from_le_bytes(std::span<const std::uint8_t> bytes);

// Encodes UTF-8 text as UTF-16 (used where the platform takes wide strings).
std::u16string encode_utf16(std::string_view utf8);

}  // namespace kestrel
