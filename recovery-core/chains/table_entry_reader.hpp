#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "recovery-core/chains/cluster_area.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// The little-endian entry of `cluster` in the FAT at `fat_offset`, read on its
// own (4 bytes for FAT32 and exFAT, 2 for FAT16 and FAT12, whose entry may
// straddle a sector). FAT12 and FAT16 links come back in FAT32's terms: their
// bad and end-of-chain values are moved up to 0x0FFFFFF7 and above, so every
// walk reads one meaning. An entry offset past 2^64 - 1 is "byte range
// overflow"; a failed or short read is that read's error.
std::expected<std::uint32_t, RecoveryError> read_table_entry(ByteSource& source,
                                                             std::uint64_t fat_offset,
                                                             std::uint32_t cluster,
                                                             EntryWidth width = EntryWidth::Bits32);

// Where the entry of `cluster` starts, relative to the FAT, and how many bytes hold it.
struct TableEntrySpot {
  std::uint64_t offset = 0;
  std::uint32_t bytes = 0;
};
TableEntrySpot table_entry_spot(std::uint32_t cluster, EntryWidth width);

// The link held by the entry bytes at its spot (`bytes` long), in FAT32's terms.
std::uint32_t table_link(std::span<const std::uint8_t> bytes, std::uint32_t cluster,
                         EntryWidth width);

// Keeps a few aligned blocks of one source in memory so that walking along a
// chain costs one read per block instead of one per FAT entry. Every entry it
// gives is the value read_table_entry gives: a block that cannot be read whole
// (a read error, a short read) is remembered as unreadable and its entries are
// read one by one, so an entry that fails, fails with the same error. Entries
// that straddle a block boundary or the end of the source are read on their own
// as well. It holds at most kBlocks blocks of kBlockBytes (64 KiB in all).
//
// Blocks are 4 KiB: a chain that jumps from block to block at every step (entries
// of interleaved files far apart in the FAT) costs one 4 KiB read per entry, no
// more than a 4-byte read costs in practice, while a chain laid out in order costs
// one read per 1,024 entries.
class TableBlockCache {
 public:
  static constexpr std::size_t kBlockBytes = 4096;
  static constexpr std::size_t kBlocks = 16;

  std::expected<std::uint32_t, RecoveryError> entry(ByteSource& source, std::uint64_t fat_offset,
                                                    std::uint32_t cluster,
                                                    EntryWidth width = EntryWidth::Bits32);

  // Forgets every block, for use with another source.
  void clear();

 private:
  enum class BlockState : std::uint8_t { Empty, Held, Unreadable };

  struct Block {
    std::uint64_t start = 0;
    std::uint64_t last_use = 0;
    BlockState state = BlockState::Empty;
  };

  // The slot holding the block that starts at `start`, read now if need be.
  std::size_t slot_for(ByteSource& source, std::uint64_t start);

  std::vector<Block> blocks_;
  std::vector<std::uint8_t> bytes_;  // kBlocks * kBlockBytes, allocated on first use
  std::size_t recent_ = 0;           // the slot used last, tried first
  std::uint64_t clock_ = 0;
};

// Reads the FAT entries of a chain walk, `width` wide: through a cache when one
// is given, otherwise each entry with its own read.
class TableEntryReader {
 public:
  explicit TableEntryReader(ByteSource& source, TableBlockCache* cache = nullptr,
                            EntryWidth width = EntryWidth::Bits32)
      : source_(source), cache_(cache), width_(width) {}

  std::expected<std::uint32_t, RecoveryError> operator()(std::uint64_t fat_offset,
                                                         std::uint32_t cluster) {
    return cache_ ? cache_->entry(source_, fat_offset, cluster, width_)
                  : read_table_entry(source_, fat_offset, cluster, width_);
  }

 private:
  ByteSource& source_;
  TableBlockCache* cache_;
  EntryWidth width_;
};

}  // namespace kestrel
