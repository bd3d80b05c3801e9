#include "recovery-core/exfat/exfat_cluster_recognition.hpp"

#include <cstddef>

#include "recovery-core/exfat/exfat_entry_set.hpp"

namespace kestrel {

namespace {

using namespace exfat_entry;

constexpr std::size_t kEntryBytes = std::tuple_size_v<ExfatDirectoryEntry>;

}  // namespace

bool is_sound_exfat_file_set(std::span<const std::uint8_t> set) {
  const std::size_t entries = set.size() / kEntryBytes;
  if (entries < 3 || (set[kType] & kKindMask) != kFileKind) return false;
  const std::uint8_t in_use = set[kType] & kInUseBit;
  for (std::size_t index = 1; index < entries; ++index) {
    const std::uint8_t type = set[index * kEntryBytes + kType];
    if ((type & kSecondaryBit) == 0 || (type & kInUseBit) != in_use) return false;
  }
  if ((set[kEntryBytes + kType] & kKindMask) != kStreamExtensionKind) return false;
  return entry_set_checksum_holds(set);
}

bool holds_exfat_entry_sets(std::span<const std::uint8_t> bytes) {
  const std::size_t entries = bytes.size() / kEntryBytes;
  std::size_t sound_sets = 0;
  std::size_t index = 0;
  while (index < entries) {
    const std::uint8_t type = bytes[index * kEntryBytes + kType];
    if (type == kEndOfDirectory) break;
    if (!is_known_entry_type(type)) return false;
    if ((type & kKindMask) != kFileKind) {
      ++index;
      continue;
    }
    const std::size_t set_entries = std::size_t{bytes[index * kEntryBytes + kSecondaryCount]} + 1;
    if (index + set_entries > entries) break;
    if (!is_sound_exfat_file_set(bytes.subspan(index * kEntryBytes, set_entries * kEntryBytes)))
      return false;
    ++sound_sets;
    index += set_entries;
  }
  return sound_sets > 0;
}

}  // namespace kestrel
