#include "recovery-core/fat/fat_directory_entry.hpp"

#include <algorithm>
#include <string_view>

#include "recovery-core/bytes/little_endian.hpp"

namespace kestrel {

namespace {

using namespace fat32_entry;

constexpr std::size_t kEntryBytes = std::tuple_size_v<Fat32DirectoryEntry>;

// Whether the entry is the dot entry `name` (the 11 name bytes blank-padded)
// with the directory attribute.
bool is_dot_entry(const Fat32DirectoryEntry& entry, std::string_view name) {
  const std::string_view stored(reinterpret_cast<const char*>(entry.data()),
                                kBaseLength + kExtensionLength);
  const std::string padded =
      std::string(name) + std::string(kBaseLength + kExtensionLength - name.size(), ' ');
  return stored == padded && (entry[kAttributes] & kDirectoryBit) != 0 &&
         entry[kAttributes] != kLongNameAttributes;
}

// A long-name piece: its sequence number is 1 to 20 (the last one flagged
// 0x40), or the whole byte is the deleted mark; type and cluster are zero.
bool is_well_formed_long_name_entry(const Fat32DirectoryEntry& entry) {
  const std::uint8_t sequence = entry[kStatus] & 0x3F;
  const bool numbered = (entry[kStatus] & 0x80) == 0 && sequence >= 1 && sequence <= 20;
  return (numbered || entry[kStatus] == kDeleted) && entry[kLongNameType] == 0 &&
         field_le<std::uint16_t, kLongNameCluster>(entry) == 0;
}

// Whether a byte may stand in a stored short name: upper case only (lower
// case is a flag of its own), and none of the characters FAT forbids.
bool is_short_name_byte(std::uint8_t byte) {
  constexpr std::string_view kForbidden = "\"*+,./:;<=>?[\\]|";
  if (byte < 0x20 || byte == 0x7F || (byte >= 'a' && byte <= 'z')) return false;
  return kForbidden.find(static_cast<char>(byte)) == std::string_view::npos;
}

// A short entry: no reserved attribute bits, only the case flags in its
// reserved byte, and a valid stored name (the first byte may be the deleted
// mark, or 0x05 standing for it).
bool is_well_formed_short_entry(const Fat32DirectoryEntry& entry) {
  if ((entry[kAttributes] & 0xC0) != 0 || (entry[kCaseFlags] & ~kCaseFlagBits) != 0) return false;
  if (!is_short_name_byte(entry[kStatus]) && entry[kStatus] != kDeleted && entry[kStatus] != 0x05)
    return false;
  return std::all_of(entry.begin() + 1, entry.begin() + kBaseLength + kExtensionLength,
                     is_short_name_byte);
}

}  // namespace

bool continues_fat32_directory(std::span<const std::uint8_t> entries) {
  std::size_t seen = 0;
  for (std::size_t at = 0; at + kEntryBytes <= entries.size(); at += kEntryBytes, ++seen) {
    Fat32DirectoryEntry entry{};
    std::copy_n(entries.begin() + static_cast<std::ptrdiff_t>(at), kEntryBytes, entry.begin());
    if (entry[kStatus] == kEndOfDirectory) break;
    if (seen == 0 && is_dot_entry(entry, ".")) return false;
    const bool well_formed = entry[kAttributes] == kLongNameAttributes
                                 ? is_well_formed_long_name_entry(entry)
                                 : is_well_formed_short_entry(entry);
    if (!well_formed) return false;
  }
  return seen > 0;
}

Fat32ShortEntry read_short_entry(const Fat32DirectoryEntry& entry, FatWidth width) {
  Fat32ShortEntry fields;
  fields.deleted = entry[kStatus] == kDeleted;
  fields.attributes = entry[kAttributes];
  fields.cluster_high =
      width == FatWidth::Fat32 ? field_le<std::uint16_t, kClusterHigh>(entry) : std::uint16_t{0};
  fields.cluster_low = field_le<std::uint16_t, kClusterLow>(entry);
  fields.size = field_le<std::uint32_t, kFileSize>(entry);
  return fields;
}

bool starts_fat32_directory(std::span<const std::uint8_t> first_entries, std::uint32_t cluster,
                            FatWidth width) {
  if (first_entries.size() < kFat32DirectoryStartBytes) return false;
  Fat32DirectoryEntry dot{};
  Fat32DirectoryEntry dot_dot{};
  std::copy_n(first_entries.begin(), kEntryBytes, dot.begin());
  std::copy_n(first_entries.begin() + kEntryBytes, kEntryBytes, dot_dot.begin());
  return is_dot_entry(dot, ".") && is_dot_entry(dot_dot, "..") &&
         read_short_entry(dot, width).cluster() == cluster;
}

}  // namespace kestrel
