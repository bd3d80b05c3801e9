// Partition-table detection over a disk image in the sparse form of
// sparse_image_input.hpp (so extended-partition chains and backup GPT headers
// far into a large disk can be reached), read with both sector sizes the tool
// accepts for partitioned disks. A table that is found must name the sector
// size it was read with, and render as the JSON the scan prints.
#include <cstdint>
#include <span>

#include "fuzz/fuzz_check.hpp"
#include "fuzz/sparse_image_input.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/partition/partition_table.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrel;
  for (const std::uint32_t sector_size : {512u, 4096u}) {
    auto image = fuzzing::sparse_image_from_input(std::span(data, size), sector_size);
    if (!image) return 0;
    const auto table = detect_partition_table(*image, image->capacity(), sector_size);
    if (!table) continue;
    fuzzing::require(table->logical_sector_size == sector_size, "the table keeps the sector size");
    fuzzing::require(table->scheme != PartitionScheme::SuperFloppy || table->partitions.size() == 1,
                     "a medium without a table is one partition");
    fuzzing::require(render_json(to_json(*table)).has_value(), "a table renders as JSON");
  }
  return 0;
}
