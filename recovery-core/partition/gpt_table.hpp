#pragma once

#include <cstdint>
#include <expected>

#include "recovery-core/partition/partition_table.hpp"
#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// Reads the GPT behind a protective MBR: the header at LBA 1 (signature, size,
// CRC-32), then the whole entry array in one read (at most 16 MiB, CRC-32), and
// lists the used entries in array order. The backup header is never read.
std::expected<PartitionTable, RecoveryError> read_gpt_table(ByteSource& source, std::uint64_t capacity,
                                                            std::uint32_t logical_sector_size);

}  // namespace kestrel
