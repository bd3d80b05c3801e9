#include "recovery-core/fat32/fat32_directory_entry.hpp"

#include "recovery-core/bytes/little_endian.hpp"

namespace kestrel {

Fat32ShortEntry read_short_entry(const Fat32DirectoryEntry& entry) {
  using namespace fat32_entry;
  Fat32ShortEntry fields;
  fields.deleted = entry[kStatus] == kDeleted;
  fields.attributes = entry[kAttributes];
  fields.cluster_high = field_le<std::uint16_t, kClusterHigh>(entry);
  fields.cluster_low = field_le<std::uint16_t, kClusterLow>(entry);
  fields.size = field_le<std::uint32_t, kFileSize>(entry);
  return fields;
}

}  // namespace kestrel
