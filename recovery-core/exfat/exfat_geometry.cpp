#include "recovery-core/exfat/exfat_geometry.hpp"

#include "recovery-core/exfat/exfat_messages.hpp"

namespace kestrel {

ClusterArea cluster_area(const ExfatGeometry& volume) {
  ClusterArea area;
  area.table_offset = volume.fat_offset;
  area.data_offset = volume.heap_offset;
  area.bytes_per_sector = volume.bytes_per_sector;
  area.sectors_per_cluster = volume.sectors_per_cluster;
  area.cluster_count = volume.cluster_count;
  area.width = EntryWidth::Bits32;
  area.links = LinkRule::Unbounded32;
  area.outside_text = kExfatClusterOutsideHeap;
  return area;
}

}  // namespace kestrel
