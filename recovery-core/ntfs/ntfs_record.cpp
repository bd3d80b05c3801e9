#include "recovery-core/ntfs/ntfs_record.hpp"

#include <algorithm>

#include "recovery-core/text/utf16.hpp"

namespace kestrel {

namespace {

constexpr std::size_t kFixupStride = 512;
constexpr std::size_t kHeaderBytes = 42;
constexpr std::uint32_t kEndMarker = 0xFFFFFFFF;
// A record of 64 KiB holds fewer attributes than this.
constexpr std::size_t kMostAttributes = 512;

std::uint16_t u16_at(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t u32_at(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(u16_at(bytes, offset)) |
         (static_cast<std::uint32_t>(u16_at(bytes, offset + 2)) << 16);
}

std::uint64_t u64_at(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint64_t>(u32_at(bytes, offset)) |
         (static_cast<std::uint64_t>(u32_at(bytes, offset + 4)) << 32);
}

bool apply_fixups(std::vector<std::uint8_t>& bytes) {
  const std::size_t array_offset = u16_at(bytes, 4);
  const std::size_t count = u16_at(bytes, 6);
  if (count != bytes.size() / kFixupStride + 1 || array_offset + 2 * count > kFixupStride) {
    return false;
  }
  const std::uint16_t sequence_number = u16_at(bytes, array_offset);
  for (std::size_t i = 1; i < count; ++i) {
    const std::size_t tail = i * kFixupStride - 2;
    if (u16_at(bytes, tail) != sequence_number) return false;
    bytes[tail] = bytes[array_offset + 2 * i];
    bytes[tail + 1] = bytes[array_offset + 2 * i + 1];
  }
  return true;
}

// The attribute at `offset` of `record`, whose length is `length`; nothing
// when its fields point outside it.
std::optional<NtfsAttribute> parse_attribute(std::span<const std::uint8_t> record,
                                             std::size_t offset, std::size_t length) {
  const auto bytes = record.subspan(offset, length);
  if (length < 24) return std::nullopt;
  NtfsAttribute attribute;
  attribute.type = u32_at(bytes, 0);
  attribute.resident = bytes[8] == 0;
  const std::size_t name_units = bytes[9];
  const std::size_t name_offset = u16_at(bytes, 10);
  attribute.flags = u16_at(bytes, 12);
  if (name_units > 0) {
    if (name_offset + 2 * name_units > length) return std::nullopt;
    attribute.name = utf16_units_from_le_bytes(bytes.subspan(name_offset, 2 * name_units));
  }
  if (attribute.resident) {
    const std::size_t value_length = u32_at(bytes, 16);
    const std::size_t value_offset = u16_at(bytes, 20);
    if (value_offset > length || value_length > length - value_offset) return std::nullopt;
    attribute.value = bytes.subspan(value_offset, value_length);
    attribute.value_offset = offset + value_offset;
    return attribute;
  }
  if (length < 64) return std::nullopt;
  attribute.first_vcn = u64_at(bytes, 16);
  const std::size_t runs_offset = u16_at(bytes, 32);
  attribute.compression_unit_power = bytes[34];
  attribute.allocated_size = u64_at(bytes, 40);
  attribute.data_size = u64_at(bytes, 48);
  attribute.initialized_size = u64_at(bytes, 56);
  if (runs_offset > length) return std::nullopt;
  attribute.runs = bytes.subspan(runs_offset);
  return attribute;
}

bool walk_attributes(NtfsRecord& record, std::size_t first, std::size_t used) {
  const std::span<const std::uint8_t> bytes(record.bytes.data(), used);
  std::size_t offset = first;
  while (record.attributes.size() < kMostAttributes) {
    if (offset + 4 > used) return false;
    if (u32_at(bytes, offset) == kEndMarker) return true;
    if (offset + 8 > used) return false;
    const std::size_t length = u32_at(bytes, offset + 4);
    if (length < 24 || length % 8 != 0 || length > used - offset) return false;
    auto attribute = parse_attribute(bytes, offset, length);
    if (!attribute) return false;
    record.attributes.push_back(std::move(*attribute));
    offset += length;
  }
  return false;
}

}  // namespace

const NtfsAttribute* NtfsRecord::first(NtfsAttributeType type) const {
  const auto wanted = static_cast<std::uint32_t>(type);
  const auto found = std::find_if(attributes.begin(), attributes.end(),
                                  [&](const NtfsAttribute& a) { return a.type == wanted; });
  return found == attributes.end() ? nullptr : &*found;
}

std::expected<NtfsRecord, NtfsRecordFault> parse_ntfs_record(std::vector<std::uint8_t> bytes) {
  if (bytes.size() < kFixupStride || bytes.size() % kFixupStride != 0 || bytes[0] != 'F' ||
      bytes[1] != 'I' || bytes[2] != 'L' || bytes[3] != 'E') {
    return std::unexpected(NtfsRecordFault::Unused);
  }
  if (!apply_fixups(bytes)) return std::unexpected(NtfsRecordFault::Damaged);
  NtfsRecord record;
  record.sequence = u16_at(bytes, 16);
  record.log_sequence = u64_at(bytes, 8);
  const std::size_t first = u16_at(bytes, 20);
  const std::uint16_t flags = u16_at(bytes, 22);
  const std::size_t used = u32_at(bytes, 24);
  record.in_use = (flags & 0x0001) != 0;
  record.directory = (flags & 0x0002) != 0;
  record.base = NtfsReference::from_bits(u64_at(bytes, 32));
  if (used > bytes.size() || first < kHeaderBytes || first >= used) {
    return std::unexpected(NtfsRecordFault::Damaged);
  }
  record.bytes = std::move(bytes);
  if (!walk_attributes(record, first, used)) return std::unexpected(NtfsRecordFault::Damaged);
  return record;
}

}  // namespace kestrel
