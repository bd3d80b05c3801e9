#pragma once

#include <cstdint>
#include <vector>

#include "recovery-core/chains/untangle_plan.hpp"
#include "recovery-core/exfat/exfat_allocation_bitmap.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// The clusters an exFAT volume's files hold: those its allocation bitmap
// marks in use (deleting a file clears its bits). The bitmap is read in
// blocks of 4 KiB, one held at a time; a cluster whose bit cannot be read,
// or that the bitmap does not cover, counts as held.
class ExfatBitmapUse final : public ClusterUse {
 public:
  ExfatBitmapUse(ByteSource& source, const ExfatAllocationBitmap& bitmap)
      : source_(source), bitmap_(bitmap) {}

  bool held(std::uint32_t cluster) override;

 private:
  static constexpr std::uint64_t kBlockBytes = 4096;

  ByteSource& source_;
  const ExfatAllocationBitmap& bitmap_;
  std::vector<std::uint8_t> block_;
  std::uint64_t block_start_ = 0;
  bool block_read_ = false;  // block_ holds the bytes from block_start_ on
};

}  // namespace kestrel
