#pragma once

#include <cstdint>
#include <expected>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/partition/partition_table.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// How the medium is laid out: its partition table, except that a volume written from sector 0
// without a table (as Windows formats many sticks) is read as that volume even when its boot
// code happens to form MBR slots. Sector 0 must then be a boot sector that reads as a volume, and
// no counted slot may be a partition of this medium: each starts at sector 0 (on the boot sector
// itself) or runs past the medium's end. A real MBR, whose sector 0 is no volume, keeps its table.
std::expected<PartitionTable, RecoveryError> detect_medium_layout(
    ByteSource& source, std::uint64_t capacity, std::uint32_t logical_sector_size);

}  // namespace kestrel
