#include "recovery-core/scan/medium_layout.hpp"

#include <algorithm>
#include <vector>

#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/scan/file_system_registry.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

namespace {

// A slot on the boot sector itself, or one whose end lies past the medium's last sector.
bool cannot_be_a_partition(const PartitionEntry& slot, std::uint64_t medium_sectors) {
  if (slot.start_lba == 0) return true;
  return slot.start_lba >= medium_sectors || slot.sector_count > medium_sectors - slot.start_lba;
}

}  // namespace

std::expected<PartitionTable, RecoveryError> detect_medium_layout(
    ByteSource& source, std::uint64_t capacity, std::uint32_t logical_sector_size) {
  KESTREL_TRY_ASSIGN(table, detect_partition_table(source, capacity, logical_sector_size));
  if (table->scheme != PartitionScheme::Mbr) return table;
  const std::uint64_t medium_sectors = capacity / logical_sector_size;
  const bool no_partition_fits = std::ranges::all_of(
      table->partitions,
      [&](const PartitionEntry& slot) { return cannot_be_a_partition(slot, medium_sectors); });
  if (!no_partition_fits) return table;
  std::vector<std::uint8_t> sector(logical_sector_size);
  KESTREL_TRY(read_exact(source, 0, sector));
  if (!starts_readable_volume(source, sector, capacity, logical_sector_size)) return table;
  return super_floppy_table(capacity, logical_sector_size);
}

}  // namespace kestrel
