#include "recovery-core/carving/free_clusters.hpp"

#include <algorithm>

#include "recovery-core/chains/table_entry_reader.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

constexpr std::size_t kBlockBytes = 256u << 10;

}  // namespace

FreeClusters::FreeClusters(ByteSource& source, Table table, std::uint64_t offset,
                           std::uint32_t cluster_count, const ClusterBitmap* bitmap,
                           EntryWidth width)
    : source_(source),
      table_(table),
      table_offset_(offset),
      width_(width),
      bitmap_(bitmap),
      cluster_count_(cluster_count) {}

FreeClusters FreeClusters::from_table(ByteSource& source, const ClusterArea& area) {
  // Cluster 2's entry is the third of the table.
  return FreeClusters(source, Table::Entries,
                      area.table_offset + table_entry_spot(2, area.width).offset,
                      area.cluster_count, nullptr, area.width);
}

FreeClusters FreeClusters::from_bitmap(ByteSource& source, const ClusterBitmap& bitmap,
                                       std::uint32_t cluster_count) {
  return FreeClusters(source, Table::Bitmap, 0, cluster_count, &bitmap);
}

FreeClusters FreeClusters::all(ByteSource& source, std::uint32_t cluster_count) {
  return FreeClusters(source, Table::None, 0, cluster_count);
}

std::uint64_t FreeClusters::table_bytes() const {
  if (table_ != Table::Entries) return bitmap_->byte_count();
  if (width_ == EntryWidth::Bits32) return cluster_count_ * 4;
  if (cluster_count_ == 0) return 0;
  // Up to the end of the last cluster's entry (FAT12/16 counts are below 65,525).
  const TableEntrySpot last =
      table_entry_spot(static_cast<std::uint32_t>(cluster_count_ + 1), width_);
  return last.offset + last.bytes - table_entry_spot(2, width_).offset;
}

std::expected<void, RecoveryError> FreeClusters::load_block(std::uint64_t first_byte) {
  block_.resize(kBlockBytes);
  block_start_ = first_byte;
  block_fill_ =
      static_cast<std::size_t>(std::min<std::uint64_t>(kBlockBytes, table_bytes() - first_byte));
  const std::span<std::uint8_t> block = std::span<std::uint8_t>(block_).first(block_fill_);
  std::expected<void, RecoveryError> read;
  if (table_ == Table::Bitmap) {
    read = bitmap_->read(source_, first_byte, block);
  } else if (auto fat = read_exact(source_, table_offset_ + first_byte, block); !fat) {
    read = std::unexpected(RecoveryError(fat.error()));
  }
  if (!read) block_fill_ = 0;
  return read;
}

std::expected<bool, RecoveryError> FreeClusters::is_free(std::uint64_t index) {
  if (table_ == Table::None) return true;
  const auto cluster = static_cast<std::uint32_t>(index + 2);
  const TableEntrySpot spot = table_entry_spot(cluster, width_);
  const std::uint64_t byte =
      table_ == Table::Entries ? spot.offset - table_entry_spot(2, width_).offset : index / 8;
  if (table_ == Table::Bitmap && byte >= bitmap_->byte_count()) return false;
  if (byte < block_start_ ||
      byte + (table_ == Table::Entries ? spot.bytes : 1) > block_start_ + block_fill_) {
    KESTREL_TRY(load_block(byte));
  }
  const auto at = static_cast<std::size_t>(byte - block_start_);
  if (table_ == Table::Entries) {
    return (table_link(std::span(block_).subspan(at, spot.bytes), cluster, width_) & 0x0FFFFFFF) ==
           0;
  }
  return (block_[at] & (1u << (index % 8))) == 0;
}

std::expected<std::uint64_t, RecoveryError> FreeClusters::count() {
  std::uint64_t free = 0;
  for (std::uint64_t index = 0; index < cluster_count_; ++index) {
    KESTREL_TRY_ASSIGN(state, is_free(index));
    if (*state) ++free;
  }
  return free;
}

std::expected<std::optional<ClusterRun>, RecoveryError> FreeClusters::next_run() {
  while (next_index_ < cluster_count_) {
    KESTREL_TRY_ASSIGN(state, is_free(next_index_));
    if (*state) break;
    ++next_index_;
  }
  if (next_index_ >= cluster_count_) return std::optional<ClusterRun>{};
  const std::uint64_t first = next_index_;
  while (next_index_ < cluster_count_) {
    KESTREL_TRY_ASSIGN(state, is_free(next_index_));
    if (!*state) break;
    ++next_index_;
  }
  return ClusterRun{static_cast<std::uint32_t>(first + 2),
                    static_cast<std::uint32_t>(next_index_ - first)};
}

}  // namespace kestrel
