#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "recovery-core/chains/cluster_area.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// A run of consecutive clusters, by number.
struct ClusterRun {
  std::uint32_t first = 0;
  std::uint32_t count = 0;
};

// An allocation bitmap: one bit per cluster, bit 0 of its first byte for
// cluster 2, a set bit for a cluster in use.
class ClusterBitmap {
 public:
  virtual ~ClusterBitmap() = default;
  // How many of its bytes describe clusters; clusters past them are in use.
  virtual std::uint64_t byte_count() const = 0;
  // Reads `bytes.size()` of its bytes from its byte `first_byte` on; the range
  // lies within byte_count().
  virtual std::expected<void, RecoveryError> read(ByteSource& source, std::uint64_t first_byte,
                                                  std::span<std::uint8_t> bytes) const = 0;
};

// The clusters a volume marks free, as runs in cluster order, read from its
// allocation table (a table entry of 0, or a clear bit of an allocation
// bitmap) in blocks of fixed size: memory does not grow with the volume.
class FreeClusters {
 public:
  // The first allocation table of `area`, entries of its width.
  static FreeClusters from_table(ByteSource& source, const ClusterArea& area);
  // A volume's allocation bitmap, which must outlive the result; clusters it
  // does not cover are in use.
  static FreeClusters from_bitmap(ByteSource& source, const ClusterBitmap& bitmap,
                                  std::uint32_t cluster_count);
  // Every cluster, for a volume whose allocation cannot be read.
  static FreeClusters all(ByteSource& source, std::uint32_t cluster_count);

  // How many clusters are free (one read of the whole table).
  std::expected<std::uint64_t, RecoveryError> count();
  // The next run of free clusters, nothing after the last one.
  std::expected<std::optional<ClusterRun>, RecoveryError> next_run();

 private:
  enum class Table { Entries, Bitmap, None };
  FreeClusters(ByteSource& source, Table table, std::uint64_t offset, std::uint32_t cluster_count,
               const ClusterBitmap* bitmap = nullptr, EntryWidth width = EntryWidth::Bits32);

  // The table's bytes: the FAT's entries from cluster 2's, or the whole bitmap.
  std::uint64_t table_bytes() const;

  // Reads the table's bytes from `first_byte` on into block_.
  std::expected<void, RecoveryError> load_block(std::uint64_t first_byte);

  // Whether cluster number `2 + index` is free.
  std::expected<bool, RecoveryError> is_free(std::uint64_t index);

  ByteSource& source_;
  Table table_;
  std::uint64_t table_offset_;  // the FAT's cluster 2 entry
  EntryWidth width_;
  const ClusterBitmap* bitmap_;
  std::uint64_t cluster_count_;
  std::uint64_t next_index_ = 0;     // of the cluster next_run looks at first
  std::vector<std::uint8_t> block_;  // one block of the table
  std::uint64_t block_start_ = 0;    // table byte of block_[0]
  std::size_t block_fill_ = 0;
};

}  // namespace kestrel
