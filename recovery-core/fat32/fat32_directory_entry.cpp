#include "recovery-core/fat32/fat32_directory_entry.hpp"

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
  const std::string_view stored(reinterpret_cast<const char*>(entry.data()), kBaseLength + kExtensionLength);
  const std::string padded = std::string(name) + std::string(kBaseLength + kExtensionLength - name.size(), ' ');
  return stored == padded && (entry[kAttributes] & kDirectoryBit) != 0 &&
         entry[kAttributes] != kLongNameAttributes;
}

}  // namespace

Fat32ShortEntry read_short_entry(const Fat32DirectoryEntry& entry) {
  Fat32ShortEntry fields;
  fields.deleted = entry[kStatus] == kDeleted;
  fields.attributes = entry[kAttributes];
  fields.cluster_high = field_le<std::uint16_t, kClusterHigh>(entry);
  fields.cluster_low = field_le<std::uint16_t, kClusterLow>(entry);
  fields.size = field_le<std::uint32_t, kFileSize>(entry);
  return fields;
}

bool starts_fat32_directory(std::span<const std::uint8_t> first_entries, std::uint32_t cluster) {
  if (first_entries.size() < kFat32DirectoryStartBytes) return false;
  Fat32DirectoryEntry dot{};
  Fat32DirectoryEntry dot_dot{};
  std::copy_n(first_entries.begin(), kEntryBytes, dot.begin());
  std::copy_n(first_entries.begin() + kEntryBytes, kEntryBytes, dot_dot.begin());
  return is_dot_entry(dot, ".") && is_dot_entry(dot_dot, "..") && read_short_entry(dot).cluster() == cluster;
}

}  // namespace kestrel
