#include "recovery-core/fat/fat_geometry.hpp"

#include "recovery-core/fat/fat_messages.hpp"

namespace kestrel {

ClusterArea cluster_area(const FatGeometry& volume) {
  ClusterArea area;
  area.table_offset = volume.fat_offset;
  area.data_offset = volume.data_offset;
  area.bytes_per_sector = volume.bytes_per_sector;
  area.sectors_per_cluster = volume.sectors_per_cluster;
  area.cluster_count = volume.cluster_count;
  area.links = LinkRule::Bounded28;
  switch (volume.width) {
    case FatWidth::Fat12:
      area.width = EntryWidth::Bits12;
      area.outside_text = kFat12ClusterOutsideDataArea;
      break;
    case FatWidth::Fat16:
      area.width = EntryWidth::Bits16;
      area.outside_text = kFat16ClusterOutsideDataArea;
      break;
    case FatWidth::Fat32:
      area.width = EntryWidth::Bits32;
      area.outside_text = kFat32ClusterOutsideDataArea;
      break;
  }
  return area;
}

FilesystemKind kind_of(const FatGeometry& volume) {
  switch (volume.width) {
    case FatWidth::Fat12:
      return FilesystemKind::Fat12;
    case FatWidth::Fat16:
      return FilesystemKind::Fat16;
    case FatWidth::Fat32:
      break;
  }
  return FilesystemKind::Fat32;
}

}  // namespace kestrel
