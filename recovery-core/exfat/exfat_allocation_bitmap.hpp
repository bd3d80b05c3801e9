#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "recovery-core/carving/free_clusters.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/exfat/exfat_geometry.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Which heap clusters an exFAT volume marks in use, answered from its
// allocation bitmap (one bit per heap cluster, bit 0 of the first byte for
// cluster 2). The bitmap itself is never held: single answers read one byte,
// a caller going through the whole heap reads blocks of its own size.
class ExfatAllocationBitmap final : public ClusterBitmap {
 public:
  // Finds the bitmap through the Allocation Bitmap entry of the first FAT
  // among the entries at the start of the root directory, where formatting
  // puts it (its first 64 KiB are looked at). Nothing when there is no such
  // entry, its clusters cannot be followed, or reading fails.
  static std::optional<ExfatAllocationBitmap> locate(ByteSource& source,
                                                     const ExfatGeometry& volume,
                                                     std::uint32_t root_cluster);

  // True only when the bitmap marks `cluster` free. A cluster outside the
  // heap, one the bitmap does not cover and one whose bit cannot be read are
  // not free.
  bool is_free(ByteSource& source, std::uint32_t cluster) const;

  // How many of the bitmap's bytes describe heap clusters: enough for the
  // whole heap, or fewer when the bitmap's clusters hold less. Clusters past
  // them are taken as in use.
  std::uint64_t byte_count() const override { return byte_count_; }

  // Reads `bytes.size()` bitmap bytes from its byte `first_byte` on; the
  // range must lie within byte_count().
  std::expected<void, RecoveryError> read(ByteSource& source, std::uint64_t first_byte,
                                          std::span<std::uint8_t> bytes) const override;

 private:
  ExfatAllocationBitmap(ExfatGeometry volume, std::uint32_t cluster_size,
                        std::vector<std::uint32_t> clusters);

  ExfatGeometry volume_;
  std::uint32_t cluster_size_;
  std::vector<std::uint32_t> clusters_;  // where the bitmap's bytes lie, in order
  std::uint64_t byte_count_ = 0;
};

}  // namespace kestrel
