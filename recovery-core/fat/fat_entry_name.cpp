#include "recovery-core/fat/fat_entry_name.hpp"

#include <algorithm>
#include <span>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/text/unicode.hpp"
#include "recovery-core/text/utf16.hpp"
#include "recovery-core/text/utf8.hpp"

namespace kestrel {

namespace {

using namespace fat32_entry;

constexpr std::size_t kShortNameBytes = kBaseLength + kExtensionLength;
constexpr std::size_t kMaxNameUnits = 255;

std::string decode_trimmed(std::span<const std::uint8_t> bytes) {
  const std::string decoded = decode_utf8_lossy(bytes);
  return std::string(trim_unicode_white_space(decoded));
}

// Bytes a short name cannot start with (besides those below 0x21): the deleted
// marker and " * + , . / : ; < = > ? [ \ ] |.
bool is_allowed_first_byte(std::uint8_t byte) {
  if (byte < 0x21 || byte == kDeleted) return false;
  if (byte == 0x22 || byte == 0x2E || byte == 0x2F || byte == 0x7C) return false;
  if (byte >= 0x2A && byte <= 0x2C) return false;
  if (byte >= 0x3A && byte <= 0x3F) return false;
  if (byte >= 0x5B && byte <= 0x5D) return false;
  return true;
}

// The long-name checksum of the 11 stored short-name bytes.
std::uint8_t short_name_checksum(std::span<const std::uint8_t, kShortNameBytes> name) {
  std::uint8_t sum = 0;
  for (const std::uint8_t byte : name) {
    sum = static_cast<std::uint8_t>(((sum & 1u) << 7) + (sum >> 1) + byte);
  }
  return sum;
}

bool has_long_name_structure(const Fat32DirectoryEntry& entry, std::uint8_t checksum) {
  return is_deleted_long_name_entry(entry) && entry[kLongNameChecksum] == checksum;
}

// The 13 units of one long-name entry, in name order.
std::u16string entry_units(const Fat32DirectoryEntry& entry) {
  std::u16string units;
  for (const UnitRun& run : kLongNameUnitRuns) {
    units += utf16_units_from_le_bytes(std::span(entry).subspan(run.offset, 2 * run.units));
  }
  return units;
}

// The name's units, in order, from the gathered entries; nothing when the
// terminator and padding rules are broken.
std::optional<std::u16string> gather_units(const std::vector<Fat32DirectoryEntry>& pending) {
  std::u16string name;
  bool terminated = false;
  for (auto entry = pending.rbegin(); entry != pending.rend(); ++entry) {
    for (const char16_t unit : entry_units(*entry)) {
      if (terminated) {
        if (unit != 0x0000 && unit != 0xFFFF) return std::nullopt;
      } else if (unit == 0x0000) {
        terminated = true;
      } else if (unit == 0xFFFF) {
        return std::nullopt;
      } else {
        name.push_back(unit);
      }
    }
  }
  return name;
}

// The name from gathered units, if it is a usable file name.
std::optional<std::string> usable_name(const std::optional<std::u16string>& units) {
  if (!units || units->empty() || units->size() > kMaxNameUnits) return std::nullopt;
  auto name = decode_utf16_strict(*units);
  if (!name || *name == "." || *name == ".." || has_forbidden_name_char(*name)) return std::nullopt;
  return name;
}

// A live long-name entry numbered `ordinal` (the last piece of the name
// carries the 0x40 mark) for a short name with this checksum.
bool is_live_piece(const Fat32DirectoryEntry& entry, std::uint8_t ordinal, bool last,
                   std::uint8_t checksum) {
  constexpr std::uint8_t kLastPieceMark = 0x40;
  const std::uint8_t expected = static_cast<std::uint8_t>(ordinal | (last ? kLastPieceMark : 0));
  return entry[kStatus] == expected && entry[kAttributes] == kLongNameAttributes &&
         entry[kLongNameType] == 0 && field_le<std::uint16_t, kLongNameCluster>(entry) == 0 &&
         entry[kLongNameChecksum] == checksum;
}

}  // namespace

std::string decode_short_name(const Fat32DirectoryEntry& entry, bool deleted) {
  std::array<std::uint8_t, kBaseLength> base{};
  std::copy_n(entry.begin() + kBase, base.size(), base.begin());
  if (deleted) base[0] = '_';
  const std::string stem = decode_trimmed(base);
  const std::string extension =
      decode_trimmed(std::span(entry).subspan(kExtension, kExtensionLength));
  return extension.empty() ? stem : stem + "." + extension;
}

bool is_deleted_long_name_entry(const Fat32DirectoryEntry& entry) {
  return entry[kStatus] == kDeleted && entry[kAttributes] == kLongNameAttributes &&
         entry[kLongNameType] == 0 && field_le<std::uint16_t, kLongNameCluster>(entry) == 0;
}

bool checksum_compatible_with_deleted_short_name(const Fat32DirectoryEntry& short_entry,
                                                 std::uint8_t checksum) {
  std::array<std::uint8_t, kShortNameBytes> name{};
  std::copy_n(short_entry.begin() + kBase, name.size(), name.begin());
  for (unsigned first = 0x21; first <= 0xFF; ++first) {
    if (!is_allowed_first_byte(static_cast<std::uint8_t>(first))) continue;
    name[0] = static_cast<std::uint8_t>(first);
    if (short_name_checksum(name) == checksum) return true;
  }
  return false;
}

bool has_forbidden_name_char(std::string_view name) {
  for (const char32_t c : utf8_to_code_points(name)) {
    if (c <= 0x1F || (c >= 0x7F && c <= 0x9F)) return true;
    if (std::u32string_view(U"\\/:*?\"<>|").find(c) != std::u32string_view::npos) return true;
  }
  return false;
}

std::optional<std::string> assemble_deleted_long_name(
    const std::vector<Fat32DirectoryEntry>& pending, const Fat32DirectoryEntry& short_entry) {
  if (pending.empty() || pending.size() > kMaxPendingLongNameEntries) return std::nullopt;
  const std::uint8_t checksum = pending.front()[kLongNameChecksum];
  const bool consistent = std::ranges::all_of(pending, [&](const Fat32DirectoryEntry& entry) {
    return has_long_name_structure(entry, checksum);
  });
  if (!consistent) return std::nullopt;
  if (short_entry[kStatus] != kDeleted) return std::nullopt;
  if (!checksum_compatible_with_deleted_short_name(short_entry, checksum)) return std::nullopt;

  return usable_name(gather_units(pending));
}

std::optional<std::string> assemble_live_long_name(const std::vector<Fat32DirectoryEntry>& pieces,
                                                   const Fat32DirectoryEntry& short_entry) {
  if (pieces.empty() || pieces.size() > kMaxPendingLongNameEntries) return std::nullopt;
  std::array<std::uint8_t, kShortNameBytes> name{};
  std::copy_n(short_entry.begin() + kBase, name.size(), name.begin());
  const std::uint8_t checksum = short_name_checksum(name);
  for (std::size_t index = 0; index < pieces.size(); ++index) {
    const auto ordinal = static_cast<std::uint8_t>(pieces.size() - index);
    if (!is_live_piece(pieces[index], ordinal, index == 0, checksum)) return std::nullopt;
  }
  return usable_name(gather_units(pieces));
}

}  // namespace kestrel
