#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// A reference to an MFT record: its number and the sequence number the record
// had when the reference was made (a record reused since has another).
struct NtfsReference {
  std::uint64_t record = 0;
  std::uint16_t sequence = 0;

  static NtfsReference from_bits(std::uint64_t bits) {
    return {bits & 0x0000FFFFFFFFFFFFULL, static_cast<std::uint16_t>(bits >> 48)};
  }
  friend bool operator==(const NtfsReference&, const NtfsReference&) = default;
};

// Attribute types the scan reads.
enum class NtfsAttributeType : std::uint32_t {
  StandardInformation = 0x10,
  AttributeList = 0x20,
  FileName = 0x30,
  VolumeName = 0x60,
  Data = 0x80,
};

// One attribute of a record, its bytes still inside the record's buffer.
struct NtfsAttribute {
  std::uint32_t type = 0;
  std::u16string name;
  std::uint16_t flags = 0;
  bool resident = true;
  // Resident: the value, and where it starts in the record.
  std::span<const std::uint8_t> value;
  std::size_t value_offset = 0;
  // Non-resident: the run list's bytes and the sizes of the stream.
  std::span<const std::uint8_t> runs;
  std::uint64_t first_vcn = 0;
  std::uint8_t compression_unit_power = 0;
  std::uint64_t allocated_size = 0;
  std::uint64_t data_size = 0;
  std::uint64_t initialized_size = 0;

  bool compressed() const { return (flags & 0x00FF) != 0; }
  bool encrypted() const { return (flags & 0x4000) != 0; }
  bool sparse() const { return (flags & 0x8000) != 0; }
};

// An MFT record with its update-sequence fixups applied, and what its header
// says.
// Its attributes point into its bytes, so it moves but is never copied.
struct NtfsRecord {
  NtfsRecord() = default;
  NtfsRecord(NtfsRecord&&) = default;
  NtfsRecord& operator=(NtfsRecord&&) = default;
  NtfsRecord(const NtfsRecord&) = delete;
  NtfsRecord& operator=(const NtfsRecord&) = delete;
  ~NtfsRecord() = default;

  std::vector<std::uint8_t> bytes;
  std::uint16_t sequence = 0;
  std::uint64_t log_sequence = 0;  // of the last change the journal logged; 0 when none was
  bool in_use = false;
  bool directory = false;
  NtfsReference base;  // zero for a base record
  std::vector<NtfsAttribute> attributes;

  const NtfsAttribute* first(NtfsAttributeType type) const;
};

// Why a record read from the MFT cannot be used.
enum class NtfsRecordFault {
  Unused,   // no "FILE" signature: never written, or wiped
  Damaged,  // the fixups do not match, or the header or attributes overrun the record
};

// Applies the fixups to `bytes` (one MFT record as read) and walks its
// attributes within the bytes the header says are used. Every 512 bytes end
// with the update sequence number, which the fixup array puts back; a
// mismatch means a torn write.
std::expected<NtfsRecord, NtfsRecordFault> parse_ntfs_record(std::vector<std::uint8_t> bytes);

}  // namespace kestrel
