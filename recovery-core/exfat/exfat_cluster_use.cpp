#include "recovery-core/exfat/exfat_cluster_use.hpp"

#include <algorithm>

namespace kestrel {

bool ExfatBitmapUse::held(std::uint32_t cluster) {
  if (cluster < 2) return true;
  const std::uint64_t bit = cluster - 2;
  const std::uint64_t byte = bit / 8;
  if (byte >= bitmap_.byte_count()) return true;
  const std::uint64_t start = byte / kBlockBytes * kBlockBytes;
  if (!block_read_ || block_start_ != start) {
    block_.resize(static_cast<std::size_t>(std::min(kBlockBytes, bitmap_.byte_count() - start)));
    block_read_ = bitmap_.read(source_, start, block_).has_value();
    block_start_ = start;
    if (!block_read_) return true;
  }
  return (block_[static_cast<std::size_t>(byte - start)] & (1u << (bit % 8))) != 0;
}

}  // namespace kestrel
