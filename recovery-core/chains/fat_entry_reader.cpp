#include "recovery-core/chains/fat_entry_reader.hpp"

#include <algorithm>
#include <array>
#include <span>
#include <tuple>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

// One FAT entry: a 32-bit little-endian cluster link.
using FatEntry = std::array<std::uint8_t, 4>;
constexpr std::uint64_t kEntryBytes = std::tuple_size_v<FatEntry>;

std::uint32_t link_of(const FatEntry& entry) { return field_le<std::uint32_t, 0>(entry); }

}  // namespace

std::expected<std::uint32_t, RecoveryError> read_fat_entry(ByteSource& source,
                                                           std::uint64_t fat_offset,
                                                           std::uint32_t cluster) {
  KESTREL_TRY_ASSIGN(offset,
                     checked_add(fat_offset, static_cast<std::uint64_t>(cluster) * kEntryBytes));
  FatEntry entry{};
  KESTREL_TRY(read_exact(source, *offset, entry));
  return link_of(entry);
}

std::expected<std::uint32_t, RecoveryError> FatBlockCache::entry(ByteSource& source,
                                                                 std::uint64_t fat_offset,
                                                                 std::uint32_t cluster) {
  KESTREL_TRY_ASSIGN(offset,
                     checked_add(fat_offset, static_cast<std::uint64_t>(cluster) * kEntryBytes));
  const std::uint64_t start = *offset - *offset % kBlockBytes;
  const std::uint64_t capacity = source.capacity();
  // Only an entry wholly inside a block, itself cut short at the end of the source, comes from a
  // block.
  if (start < capacity &&
      *offset - start + kEntryBytes <= std::min<std::uint64_t>(kBlockBytes, capacity - start)) {
    const std::size_t slot = slot_for(source, start);
    if (blocks_[slot].state == BlockState::Held) {
      FatEntry entry{};
      std::copy_n(
          bytes_.begin() + static_cast<std::ptrdiff_t>(slot * kBlockBytes + (*offset - start)),
          entry.size(), entry.begin());
      return link_of(entry);
    }
  }
  return read_fat_entry(source, fat_offset, cluster);
}

std::size_t FatBlockCache::slot_for(ByteSource& source, std::uint64_t start) {
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

void FatBlockCache::clear() {
  for (Block& block : blocks_) block.state = BlockState::Empty;
  recent_ = 0;
}

}  // namespace kestrel
