#include "recovery-core/fat/fat_cluster_use.hpp"

namespace kestrel {

bool FatTableUse::held(std::uint32_t cluster) {
  auto entry = cache_.entry(source_, area_.table_offset, cluster, area_.width);
  return !entry || *entry != 0;
}

}  // namespace kestrel
