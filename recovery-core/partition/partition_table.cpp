#include "recovery-core/partition/partition_table.hpp"

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/partition/gpt_table.hpp"
#include "recovery-core/partition/partition_messages.hpp"
#include "recovery-core/partition/sector_read.hpp"

namespace kestrel {

namespace {

constexpr std::uint32_t kMinSectorSize = 512;
constexpr std::size_t kFirstSlotOffset = 446;
constexpr std::size_t kSlotLength = 16;
constexpr std::uint8_t kProtectiveType = 0xEE;

PartitionTable super_floppy(std::uint64_t capacity, std::uint32_t logical_sector_size) {
  PartitionTable table;
  table.scheme = PartitionScheme::SuperFloppy;
  table.logical_sector_size = logical_sector_size;
  PartitionEntry whole;
  whole.index = 1;
  whole.start_lba = 0;
  whole.sector_count = capacity / logical_sector_size;
  table.partitions.push_back(whole);
  return table;
}

// One MBR slot (0-based); nothing when its type or its sector count is zero.
std::expected<std::optional<PartitionEntry>, RecoveryError> decode_mbr_slot(
    std::span<const std::uint8_t> sector, std::uint32_t slot) {
  auto bytes = read_bytes(sector, kFirstSlotOffset + kSlotLength * slot, kSlotLength);
  if (!bytes) return std::unexpected(RecoveryError::invalid_structure(std::string(kTruncatedMbrEntry)));
  const std::uint8_t type = (*bytes)[4];
  const std::uint32_t start = *read_u32_le(*bytes, 8);
  const std::uint32_t count = *read_u32_le(*bytes, 12);
  if (type == 0 || count == 0) return std::optional<PartitionEntry>{};
  PartitionEntry entry;
  entry.index = slot + 1;
  entry.start_lba = start;
  entry.sector_count = count;
  entry.type_code = type;
  return std::optional<PartitionEntry>(entry);
}

}  // namespace

std::string_view partition_scheme_name(PartitionScheme scheme) {
  switch (scheme) {
    case PartitionScheme::SuperFloppy:
      return "super-floppy";
    case PartitionScheme::Mbr:
      return "mbr";
    case PartitionScheme::Gpt:
      return "gpt";
  }
  return {};
}

JsonValue to_json(const PartitionEntry& entry) {
  JsonValue value = JsonValue::object();
  value["index"] = entry.index;
  value["start_lba"] = entry.start_lba;
  value["sector_count"] = entry.sector_count;
  value["type_code"] = json_or_null(entry.type_code);
  value["type_guid"] = json_or_null(entry.type_guid);
  value["name"] = json_or_null(entry.name);
  return value;
}

JsonValue to_json(const PartitionTable& table) {
  JsonValue value = JsonValue::object();
  value["scheme"] = partition_scheme_name(table.scheme);
  value["logical_sector_size"] = table.logical_sector_size;
  JsonValue partitions = JsonValue::array();
  for (const PartitionEntry& entry : table.partitions) partitions.push_back(to_json(entry));
  value["partitions"] = std::move(partitions);
  return value;
}

std::expected<PartitionTable, RecoveryError> detect_partition_table(ByteSource& source,
                                                                    std::uint64_t capacity,
                                                                    std::uint32_t logical_sector_size) {
  if (logical_sector_size < kMinSectorSize) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kSectorSizeTooSmall)));
  }
  auto sector = read_one_sector(source, capacity, 0, logical_sector_size);
  if (!sector) return std::unexpected(sector.error());
  if ((*sector)[510] != 0x55 || (*sector)[511] != 0xAA) return super_floppy(capacity, logical_sector_size);

  PartitionTable table;
  table.scheme = PartitionScheme::Mbr;
  table.logical_sector_size = logical_sector_size;
  bool protective = false;
  for (std::uint32_t slot = 0; slot < 4; ++slot) {
    auto entry = decode_mbr_slot(*sector, slot);
    if (!entry) return std::unexpected(entry.error());
    if (!*entry) continue;
    protective = protective || (*entry)->type_code == kProtectiveType;
    table.partitions.push_back(**entry);
  }
  // A protective slot hands detection to the GPT, success or failure; there is no fallback.
  if (protective) return read_gpt_table(source, capacity, logical_sector_size);
  if (table.partitions.empty()) return super_floppy(capacity, logical_sector_size);
  return table;
}

}  // namespace kestrel
