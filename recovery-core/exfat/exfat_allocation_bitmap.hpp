#pragma once

#include <cstdint>
#include <expected>
#include <optional>

#include "recovery-core/chains/volume_geometry.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Where an exFAT volume's allocation bitmap lies: one bit per heap cluster,
// set while the cluster is in use.
struct ExfatAllocationBitmap {
  std::uint64_t offset = 0;  // absolute offset of its first byte (cluster 2's bit is bit 0)
  std::uint64_t length = 0;  // in bytes
};

// Looks for the bitmap's entry in the root directory. Nothing when the root
// holds no usable one: no entry before the directory's end, a first cluster
// outside the heap, or a bitmap too short for the heap or running past it.
// Errors: the root's clusters cannot be read.
std::expected<std::optional<ExfatAllocationBitmap>, RecoveryError> find_exfat_allocation_bitmap(
    ByteSource& source, const ExfatVolume& volume, std::uint32_t root_cluster);

}  // namespace kestrel
