#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/json/json_value.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

enum class PartitionScheme { SuperFloppy, Mbr, Gpt };

std::string_view partition_scheme_name(PartitionScheme scheme);

struct PartitionEntry {
  std::uint32_t index = 0;  // MBR slot 1-4, GPT array position, 1 for super-floppy
  std::uint64_t start_lba = 0;
  std::uint64_t sector_count = 0;
  std::optional<std::uint8_t> type_code;  // MBR only
  std::optional<std::string> type_guid;   // GPT only, canonical lower-case text
  std::optional<std::string> name;        // GPT only, absent when empty

  friend bool operator==(const PartitionEntry&, const PartitionEntry&) = default;
};

struct PartitionTable {
  PartitionScheme scheme = PartitionScheme::SuperFloppy;
  std::uint32_t logical_sector_size = 512;
  std::vector<PartitionEntry> partitions;

  friend bool operator==(const PartitionTable&, const PartitionTable&) = default;
};

JsonValue to_json(const PartitionEntry& entry);
JsonValue to_json(const PartitionTable& table);

// Finds the medium's partitions: the MBR's slots, the GPT when a slot marks
// the disk as protective, or the whole medium as one partition when there is
// no MBR or it lists nothing. A GPT that fails its checks is an error; the MBR
// is then not used instead. Reads at most three times.
// The table of a medium without one: one partition from sector 0 over every whole sector.
PartitionTable super_floppy_table(std::uint64_t capacity, std::uint32_t logical_sector_size);

std::expected<PartitionTable, RecoveryError> detect_partition_table(
    ByteSource& source, std::uint64_t capacity, std::uint32_t logical_sector_size);

// A 16-byte GUID as stored on disk, as lower-case text in the usual 8-4-4-4-12
// grouping; any other length is an invalid structure.
std::expected<std::string, RecoveryError> format_guid(std::span<const std::uint8_t> bytes);

// A GPT entry's name from its 72-byte field (36 UTF-16LE units, ended early
// by a zero unit), decoded lossily; nothing when it is empty.
std::optional<std::string> decode_gpt_name(std::span<const std::uint8_t> field);

}  // namespace kestrel
