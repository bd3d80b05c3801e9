#include "recovery-core/chains/table_entry_reader.hpp"

#include <algorithm>
#include <array>
#include <span>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

// The largest entry: FAT32's and exFAT's four bytes.
constexpr std::size_t kMaxEntryBytes = 4;

// FAT12 and FAT16 mark bad clusters and chain ends with their top values; FAT32
// with the same values 28 bits wide.
constexpr std::uint32_t kFat32Bad = 0x0FFFFFF7;
constexpr std::uint32_t kFat12Bad = 0x0FF7;
constexpr std::uint32_t kFat16Bad = 0xFFF7;

}  // namespace

TableEntrySpot table_entry_spot(std::uint32_t cluster, EntryWidth width) {
  const std::uint64_t number = cluster;
  switch (width) {
    case EntryWidth::Bits12:
      return {number + number / 2, 2};
    case EntryWidth::Bits16:
      return {number * 2, 2};
    case EntryWidth::Bits32:
      break;
  }
  return {number * 4, 4};
}

std::uint32_t table_link(std::span<const std::uint8_t> bytes, std::uint32_t cluster,
                         EntryWidth width) {
  if (width == EntryWidth::Bits32) return load_le<std::uint32_t>(bytes, 0);
  const std::uint32_t pair = load_le<std::uint16_t>(bytes, 0);
  if (width == EntryWidth::Bits16) return pair >= kFat16Bad ? pair - kFat16Bad + kFat32Bad : pair;
  // Two FAT12 entries share three bytes: an even cluster has the low 12 bits of
  // its pair, an odd one the high 12.
  const std::uint32_t link = cluster % 2 == 0 ? pair & 0x0FFF : pair >> 4;
  return link >= kFat12Bad ? link - kFat12Bad + kFat32Bad : link;
}

std::expected<std::uint32_t, RecoveryError> read_table_entry(ByteSource& source,
                                                             std::uint64_t fat_offset,
                                                             std::uint32_t cluster,
                                                             EntryWidth width) {
  const TableEntrySpot spot = table_entry_spot(cluster, width);
  KESTREL_TRY_ASSIGN(offset, checked_add(fat_offset, spot.offset));
  std::array<std::uint8_t, kMaxEntryBytes> entry{};
  KESTREL_TRY(read_exact(source, *offset, std::span(entry).first(spot.bytes)));
  return table_link(entry, cluster, width);
}

std::expected<std::uint32_t, RecoveryError> TableBlockCache::entry(ByteSource& source,
                                                                   std::uint64_t fat_offset,
                                                                   std::uint32_t cluster,
                                                                   EntryWidth width) {
  const TableEntrySpot spot = table_entry_spot(cluster, width);
  KESTREL_TRY_ASSIGN(offset, checked_add(fat_offset, spot.offset));
  const std::uint64_t start = *offset - *offset % kBlockBytes;
  const std::uint64_t capacity = source.capacity();
  // Only an entry wholly inside a block, itself cut short at the end of the source, comes from a
  // block.
  if (start < capacity &&
      *offset - start + spot.bytes <= std::min<std::uint64_t>(kBlockBytes, capacity - start)) {
    const std::size_t slot = slot_for(source, start);
    if (blocks_[slot].state == BlockState::Held) {
      std::array<std::uint8_t, kMaxEntryBytes> entry{};
      std::copy_n(
          bytes_.begin() + static_cast<std::ptrdiff_t>(slot * kBlockBytes + (*offset - start)),
          spot.bytes, entry.begin());
      return table_link(entry, cluster, width);
    }
  }
  return read_table_entry(source, fat_offset, cluster, width);
}

std::size_t TableBlockCache::slot_for(ByteSource& source, std::uint64_t start) {
  if (blocks_.empty()) {
    blocks_.resize(kBlocks);
    bytes_.resize(kBlocks * kBlockBytes);
  }
  ++clock_;
  if (blocks_[recent_].state != BlockState::Empty && blocks_[recent_].start == start) {
    blocks_[recent_].last_use = clock_;
    return recent_;
  }
  std::size_t victim = 0;
  for (std::size_t slot = 0; slot < kBlocks; ++slot) {
    const Block& block = blocks_[slot];
    if (block.state != BlockState::Empty && block.start == start) {
      blocks_[slot].last_use = clock_;
      recent_ = slot;
      return slot;
    }
    const Block& oldest = blocks_[victim];
    if (oldest.state != BlockState::Empty &&
        (block.state == BlockState::Empty || block.last_use < oldest.last_use)) {
      victim = slot;
    }
  }
  // The block ends at the end of the source; a read that still comes back short
  // or fails leaves the block to per-entry reads.
  const std::size_t length =
      static_cast<std::size_t>(std::min<std::uint64_t>(kBlockBytes, source.capacity() - start));
  const std::span<std::uint8_t> buffer(bytes_.data() + victim * kBlockBytes, length);
  auto read = source.read_at(start, buffer);
  Block& block = blocks_[victim];
  block.start = start;
  block.last_use = clock_;
  block.state = read && *read == length ? BlockState::Held : BlockState::Unreadable;
  recent_ = victim;
  return victim;
}

void TableBlockCache::clear() {
  for (Block& block : blocks_) block.state = BlockState::Empty;
  recent_ = 0;
}

}  // namespace kestrel
