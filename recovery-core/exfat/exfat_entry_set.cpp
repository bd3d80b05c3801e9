#include "recovery-core/exfat/exfat_entry_set.hpp"

#include <algorithm>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/text/utf16.hpp"

namespace kestrel {

namespace {

using namespace exfat_entry;

constexpr std::size_t kEntryBytes = std::tuple_size_v<ExfatDirectoryEntry>;

std::size_t entry_count(std::span<const std::uint8_t> set) { return set.size() / kEntryBytes; }

ExfatDirectoryEntry entry_at(std::span<const std::uint8_t> set, std::size_t index) {
  ExfatDirectoryEntry entry{};
  std::ranges::copy(set.subspan(index * kEntryBytes, kEntryBytes), entry.begin());
  return entry;
}

std::uint8_t kind_at(std::span<const std::uint8_t> set, std::size_t index) {
  return set[index * kEntryBytes + kType] & kKindMask;
}

}  // namespace

std::optional<ExfatStreamFacts> find_stream_extension(std::span<const std::uint8_t> set) {
  for (std::size_t index = 1; index < entry_count(set); ++index) {
    if (kind_at(set, index) != kStreamExtensionKind) continue;
    const ExfatDirectoryEntry stream = entry_at(set, index);
    ExfatStreamFacts facts;
    facts.no_fat_chain = (stream[kSecondaryFlags] & kNoFatChainFlag) != 0;
    facts.name_length = stream[kNameLength];
    facts.first_cluster = field_le<std::uint32_t, kFirstCluster>(stream);
    facts.data_length = field_le<std::uint64_t, kDataLength>(stream);
    return facts;
  }
  return std::nullopt;
}

bool is_directory_set(std::span<const std::uint8_t> set) {
  auto attributes = read_u16_le(set, kFileAttributes);
  return attributes && (*attributes & kDirectoryAttribute) != 0;
}

bool entry_set_checksum_holds(std::span<const std::uint8_t> set) {
  auto stored = read_u16_le(set, kSetChecksum);
  if (!stored) return false;
  std::uint16_t sum = 0;
  for (std::size_t at = 0; at < set.size(); ++at) {
    if (at == kSetChecksum || at == kSetChecksum + 1) continue;
    std::uint8_t byte = set[at];
    if (at % kEntryBytes == kType) byte |= kInUseBit;
    sum = static_cast<std::uint16_t>(((sum & 1u) != 0 ? 0x8000u : 0u) + (sum >> 1) + byte);
  }
  return sum == *stored;
}

bool is_known_entry_type(std::uint8_t type) {
  switch (type & kKindMask) {
    case 0x01:  // Allocation Bitmap
    case 0x02:  // Up-case Table
    case 0x03:  // Volume Label
    case kFileKind:
    case 0x20:  // Volume GUID
    case 0x21:  // padding
    case kStreamExtensionKind:
    case kFileNameKind:
    case 0x60:  // vendor extension
    case 0x61:  // vendor allocation
      return true;
    default:
      return false;
  }
}

std::string entry_set_name(std::span<const std::uint8_t> set, std::uint8_t name_length) {
  std::u16string units;
  for (std::size_t index = 0; index < entry_count(set) && units.size() < name_length; ++index) {
    if (kind_at(set, index) != kFileNameKind) continue;
    const std::u16string entry_units = utf16_units_from_le_bytes(
        set.subspan(index * kEntryBytes + kNameUnits, 2 * kUnitsPerNameEntry));
    const std::size_t wanted =
        std::min<std::size_t>(entry_units.size(), name_length - units.size());
    units.append(entry_units, 0, wanted);
  }
  return decode_utf16_lossy(units);
}

}  // namespace kestrel
