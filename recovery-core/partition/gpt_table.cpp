#include "recovery-core/partition/gpt_table.hpp"

#include <algorithm>
#include <string_view>
#include <vector>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/partition/crc32.hpp"
#include "recovery-core/partition/partition_messages.hpp"
#include "recovery-core/partition/sector_read.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

// Where the fields the scanner reads lie in the GPT header (at LBA 1).
namespace header_field {
constexpr std::size_t kSignature = 0;       // "EFI PART"
constexpr std::size_t kHeaderSize = 12;     // u32
constexpr std::size_t kHeaderCrc = 16;      // u32, computed with this field zeroed
constexpr std::size_t kEntryArrayLba = 72;  // u64
constexpr std::size_t kEntryCount = 80;     // u32
constexpr std::size_t kEntrySize = 84;      // u32
constexpr std::size_t kEntryArrayCrc = 88;  // u32
}  // namespace header_field

// ... and in one entry of the array.
namespace entry_field {
constexpr std::size_t kTypeGuid = 0;  // 16 bytes, all zero for an unused entry
constexpr std::size_t kGuidLength = 16;
constexpr std::size_t kFirstLba = 32;  // u64
constexpr std::size_t kLastLba = 40;   // u64, inclusive
constexpr std::size_t kName = 56;      // 72 bytes of UTF-16LE
constexpr std::size_t kNameLength = 72;
}  // namespace entry_field

constexpr std::string_view kSignature = "EFI PART";
constexpr std::uint32_t kMinHeaderSize = 92;
constexpr std::uint32_t kMinEntrySize = 128;
constexpr std::uint64_t kMaxEntryArrayBytes = std::uint64_t{16} * 1024 * 1024;

struct GptHeader {
  std::uint64_t entry_array_lba = 0;
  std::uint32_t entry_count = 0;
  std::uint32_t entry_size = 0;
  std::uint32_t entry_array_crc = 0;
};

// The header's signature, declared size and CRC-32.
std::expected<void, RecoveryError> check_header(std::span<const std::uint8_t> sector) {
  if (sector.size() < kSignature.size() || !std::equal(kSignature.begin(), kSignature.end(),
                                                       sector.begin() + header_field::kSignature)) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kMissingGptSignature)));
  }
  KESTREL_TRY_ASSIGN(header_size, read_u32_le(sector, header_field::kHeaderSize));
  if (*header_size < kMinHeaderSize || *header_size > sector.size()) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kInvalidGptHeaderSize)));
  }
  KESTREL_TRY_ASSIGN(stored_crc, read_u32_le(sector, header_field::kHeaderCrc));
  std::vector<std::uint8_t> copy(sector.begin(), sector.begin() + *header_size);
  std::fill_n(copy.begin() + header_field::kHeaderCrc, 4, std::uint8_t{0});
  if (crc32_ieee(copy) != *stored_crc) {
    return std::unexpected(RecoveryError::checksum_mismatch(std::string(kGptHeaderChecksum)));
  }
  return {};
}

std::expected<GptHeader, RecoveryError> parse_header(std::span<const std::uint8_t> sector) {
  KESTREL_TRY(check_header(sector));
  GptHeader header;
  auto lba = read_u64_le(sector, header_field::kEntryArrayLba);
  auto count = read_u32_le(sector, header_field::kEntryCount);
  auto size = read_u32_le(sector, header_field::kEntrySize);
  auto crc = read_u32_le(sector, header_field::kEntryArrayCrc);
  if (!lba) return std::unexpected(lba.error());
  if (!count) return std::unexpected(count.error());
  if (!size) return std::unexpected(size.error());
  if (!crc) return std::unexpected(crc.error());
  header.entry_array_lba = *lba;
  header.entry_count = *count;
  header.entry_size = *size;
  header.entry_array_crc = *crc;
  return header;
}

// One used entry, or nothing for an unused one (all-zero type GUID).
std::expected<std::optional<PartitionEntry>, RecoveryError> parse_entry(
    std::span<const std::uint8_t> entry, std::uint32_t index) {
  KESTREL_TRY_ASSIGN(type, read_bytes(entry, entry_field::kTypeGuid, entry_field::kGuidLength));
  if (std::all_of(type->begin(), type->end(), [](std::uint8_t b) { return b == 0; })) {
    return std::optional<PartitionEntry>{};
  }
  auto first = read_u64_le(entry, entry_field::kFirstLba);
  auto last = read_u64_le(entry, entry_field::kLastLba);
  if (!first) return std::unexpected(first.error());
  if (!last) return std::unexpected(last.error());
  if (*last < *first) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kReversedGptRange)));
  }
  const std::uint64_t sector_count = *last - *first + 1;
  if (sector_count == 0) return std::unexpected(RecoveryError::byte_range_overflow());
  auto name_field = read_bytes(entry, entry_field::kName, entry_field::kNameLength);
  if (!name_field)
    return std::unexpected(RecoveryError::invalid_structure(std::string(kTruncatedGptName)));
  KESTREL_TRY_ASSIGN(type_guid, format_guid(*type));

  PartitionEntry result;
  result.index = index;
  result.start_lba = *first;
  result.sector_count = sector_count;
  result.type_guid = std::move(*type_guid);
  result.name = decode_gpt_name(*name_field);
  return std::optional<PartitionEntry>(std::move(result));
}

// The whole entry array in one read, after checking its size and place, and its CRC-32.
std::expected<std::vector<std::uint8_t>, RecoveryError> read_entry_array(
    ByteSource& source, std::uint64_t capacity, std::uint32_t logical_sector_size,
    const GptHeader& header) {
  if (header.entry_size < kMinEntrySize || header.entry_size % 8 != 0) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kInvalidGptEntrySize)));
  }
  const std::uint64_t array_length =
      static_cast<std::uint64_t>(header.entry_count) * header.entry_size;
  if (array_length > kMaxEntryArrayBytes) {
    return std::unexpected(RecoveryError::unsupported(std::string(kGptEntryArrayTooLarge)));
  }
  KESTREL_TRY_ASSIGN(array_offset, checked_mul(header.entry_array_lba, logical_sector_size));
  KESTREL_TRY(check_range(capacity, *array_offset, array_length));

  std::vector<std::uint8_t> array(static_cast<std::size_t>(array_length), 0);
  if (!array.empty()) {
    KESTREL_TRY(read_exact(source, *array_offset, array));
  }
  if (crc32_ieee(array) != header.entry_array_crc) {
    return std::unexpected(RecoveryError::checksum_mismatch(std::string(kGptEntryArrayChecksum)));
  }
  return array;
}

}  // namespace

std::expected<PartitionTable, RecoveryError> read_gpt_table(ByteSource& source,
                                                            std::uint64_t capacity,
                                                            std::uint32_t logical_sector_size) {
  KESTREL_TRY_ASSIGN(sector,
                     read_one_sector(source, capacity, logical_sector_size, logical_sector_size));
  KESTREL_TRY_ASSIGN(header, parse_header(*sector));
  KESTREL_TRY_ASSIGN(array, read_entry_array(source, capacity, logical_sector_size, *header));

  PartitionTable table;
  table.scheme = PartitionScheme::Gpt;
  table.logical_sector_size = logical_sector_size;
  const std::span<const std::uint8_t> entries(*array);
  // The entry count is a 32-bit field, so every 1-based position fits in 32 bits.
  for (std::uint32_t position = 0; position < header->entry_count; ++position) {
    auto entry =
        parse_entry(entries.subspan(static_cast<std::size_t>(position) * header->entry_size,
                                    header->entry_size),
                    position + 1);
    if (!entry) return std::unexpected(entry.error());
    if (*entry) table.partitions.push_back(std::move(**entry));
  }
  return table;
}

}  // namespace kestrel
