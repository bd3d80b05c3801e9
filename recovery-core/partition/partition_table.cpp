#include "recovery-core/partition/partition_table.hpp"

#include <algorithm>
#include <array>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/partition/gpt_table.hpp"
#include "recovery-core/partition/partition_messages.hpp"
#include "recovery-core/partition/sector_read.hpp"

namespace kestrel {

namespace {

constexpr std::uint32_t kMinSectorSize = 512;

// The MBR: four 16-byte partition slots from byte 446, then the boot signature.
constexpr std::size_t kFirstSlotOffset = 446;
constexpr std::uint32_t kSlotCount = 4;
constexpr std::size_t kBootSignature = 510;  // 0x55 0xAA
using MbrSlot = std::array<std::uint8_t, 16>;
namespace mbr_slot {
constexpr std::size_t kType = 4;
constexpr std::size_t kStartLba = 8;      // u32
constexpr std::size_t kSectorCount = 12;  // u32
}  // namespace mbr_slot
constexpr std::uint8_t kProtectiveType = 0xEE;

bool has_boot_signature(std::span<const std::uint8_t> sector) {
  return sector[kBootSignature] == 0x55 && sector[kBootSignature + 1] == 0xAA;
}

// One MBR slot (0-based); nothing when its type or its sector count is zero.
std::expected<std::optional<PartitionEntry>, RecoveryError> decode_mbr_slot(
    std::span<const std::uint8_t> sector, std::uint32_t slot) {
  MbrSlot bytes{};
  auto field = read_bytes(sector, kFirstSlotOffset + bytes.size() * slot, bytes.size());
  if (!field)
    return std::unexpected(RecoveryError::invalid_structure(std::string(kTruncatedMbrEntry)));
  std::ranges::copy(*field, bytes.begin());
  const std::uint8_t type = bytes[mbr_slot::kType];
  const auto start = field_le<std::uint32_t, mbr_slot::kStartLba>(bytes);
  const auto count = field_le<std::uint32_t, mbr_slot::kSectorCount>(bytes);
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

PartitionTable super_floppy_table(std::uint64_t capacity, std::uint32_t logical_sector_size) {
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

std::expected<PartitionTable, RecoveryError> detect_partition_table(
    ByteSource& source, std::uint64_t capacity, std::uint32_t logical_sector_size) {
  if (logical_sector_size < kMinSectorSize) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kSectorSizeTooSmall)));
  }
  KESTREL_TRY_ASSIGN(sector, read_one_sector(source, capacity, 0, logical_sector_size));
  if (!has_boot_signature(*sector)) return super_floppy_table(capacity, logical_sector_size);

  PartitionTable table;
  table.scheme = PartitionScheme::Mbr;
  table.logical_sector_size = logical_sector_size;
  bool protective = false;
  for (std::uint32_t slot = 0; slot < kSlotCount; ++slot) {
    KESTREL_TRY_ASSIGN(entry, decode_mbr_slot(*sector, slot));
    if (!*entry) continue;
    protective = protective || (*entry)->type_code == kProtectiveType;
    table.partitions.push_back(**entry);
  }
  // A protective slot hands detection to the GPT, success or failure; there is no fallback.
  if (protective) return read_gpt_table(source, capacity, logical_sector_size);
  if (table.partitions.empty()) return super_floppy_table(capacity, logical_sector_size);
  return table;
}

}  // namespace kestrel
