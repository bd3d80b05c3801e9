#pragma once

#include <cstdint>
#include <expected>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/partition/partition_table.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// The partitions of a GPT disk, in entry-array order, unused entries left out.
// Only the primary header (LBA 1) and its entry array are consulted, each
// checked against its CRC-32; the array is read whole (16 MiB at most).
std::expected<PartitionTable, RecoveryError> read_gpt_table(ByteSource& source,
                                                            std::uint64_t capacity,
                                                            std::uint32_t logical_sector_size);

}  // namespace kestrel
