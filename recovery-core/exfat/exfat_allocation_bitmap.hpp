#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "recovery-core/chains/volume_geometry.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Which heap clusters an exFAT volume marks in use, answered from its
// allocation bitmap one byte read at a time (the bitmap is never held).
class ExfatAllocationBitmap {
 public:
  // Finds the bitmap through the Allocation Bitmap entry of the first FAT
  // among the entries at the start of the root directory, where formatting
  // puts it (its first 64 KiB are looked at). Nothing when there is no such
  // entry, its clusters cannot be followed, or reading fails.
  static std::optional<ExfatAllocationBitmap> locate(ByteSource& source, const ExfatVolume& volume,
                                                     std::uint32_t root_cluster);

  // True only when the bitmap marks `cluster` free. A cluster outside the
  // heap, one the bitmap does not cover and one whose bit cannot be read are
  // not free.
  bool is_free(ByteSource& source, std::uint32_t cluster) const;

 private:
  ExfatAllocationBitmap(ExfatVolume volume, std::uint32_t cluster_size, std::vector<std::uint32_t> clusters)
      : volume_(volume), cluster_size_(cluster_size), clusters_(std::move(clusters)) {}

  ExfatVolume volume_;
  std::uint32_t cluster_size_;
  std::vector<std::uint32_t> clusters_;  // where the bitmap's bytes lie, in order
};

}  // namespace kestrel
