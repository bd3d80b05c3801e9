#include "recovery-core/exfat/exfat_allocation_bitmap.hpp"

#include <algorithm>
#include <array>
#include <span>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/exfat/exfat_entry_set.hpp"

namespace kestrel {

namespace {

using namespace exfat_entry;

constexpr std::size_t kEntryBytes = std::tuple_size_v<ExfatDirectoryEntry>;
constexpr std::uint32_t kRootBytesLookedAt = 64 * 1024;

struct BitmapExtent {
  std::uint32_t first_cluster = 0;
  std::uint64_t length = 0;
};

// The first FAT's Allocation Bitmap entry among the directory bytes, up to the end of the
// directory.
std::optional<BitmapExtent> find_bitmap_entry(std::span<const std::uint8_t> directory) {
  for (std::size_t at = 0; at + kEntryBytes <= directory.size(); at += kEntryBytes) {
    const std::uint8_t type = directory[at + kType];
    if (type == kEndOfDirectory) break;
    if (type != kAllocationBitmapType || (directory[at + kBitmapFlags] & kSecondBitmapFlag) != 0)
      continue;
    auto first = read_u32_le(directory, at + kBitmapFirstCluster);
    auto length = read_u64_le(directory, at + kBitmapDataLength);
    if (first && length) return BitmapExtent{*first, *length};
  }
  return std::nullopt;
}

}  // namespace

std::optional<ExfatAllocationBitmap> ExfatAllocationBitmap::locate(ByteSource& source,
                                                                   const ExfatGeometry& volume,
                                                                   std::uint32_t root_cluster) {
  auto bytes_per_cluster = cluster_size(volume);
  auto root_offset = cluster_offset(volume, root_cluster);
  if (!bytes_per_cluster || !root_offset) return std::nullopt;
  std::vector<std::uint8_t> root(std::min(*bytes_per_cluster, kRootBytesLookedAt));
  if (!read_exact(source, *root_offset, root)) return std::nullopt;
  const std::optional<BitmapExtent> extent = find_bitmap_entry(root);
  if (!extent || extent->length == 0) return std::nullopt;
  auto chain = follow_exfat_chain(source, volume.fat_offset, extent->first_cluster,
                                  clusters_needed(extent->length, *bytes_per_cluster));
  if (!chain || chain->empty()) return std::nullopt;
  return ExfatAllocationBitmap(volume, *bytes_per_cluster, std::move(*chain));
}

ExfatAllocationBitmap::ExfatAllocationBitmap(ExfatGeometry volume, std::uint32_t cluster_size,
                                             std::vector<std::uint32_t> clusters)
    : volume_(volume), cluster_size_(cluster_size), clusters_(std::move(clusters)) {
  const std::uint64_t heap_bytes = (std::uint64_t{volume_.cluster_count} + 7) / 8;
  byte_count_ =
      std::min<std::uint64_t>(heap_bytes, std::uint64_t{clusters_.size()} * cluster_size_);
}

bool ExfatAllocationBitmap::is_free(ByteSource& source, std::uint32_t cluster) const {
  if (cluster < 2 || std::uint64_t{cluster} >= std::uint64_t{volume_.cluster_count} + 2)
    return false;
  const std::uint64_t bit = cluster - 2;
  if (bit / 8 >= byte_count_) return false;
  std::array<std::uint8_t, 1> value{};
  if (!read(source, bit / 8, value)) return false;
  return (value[0] & (1u << (bit % 8))) == 0;
}

std::expected<void, RecoveryError> ExfatAllocationBitmap::read(
    ByteSource& source, std::uint64_t first_byte, std::span<std::uint8_t> bytes) const {
  if (first_byte > byte_count_ || bytes.size() > byte_count_ - first_byte) {
    return std::unexpected(
        RecoveryError(SourceError::range_exceeds_source(first_byte, bytes.size(), byte_count_)));
  }
  std::uint64_t at = first_byte;
  while (!bytes.empty()) {
    // One read for the consecutive clusters from the one holding byte `at`,
    // as far as the bytes asked for reach.
    const auto holder = static_cast<std::size_t>(at / cluster_size_);
    const auto wanted_last = static_cast<std::size_t>((at + bytes.size() - 1) / cluster_size_);
    std::size_t last = holder;
    while (last < wanted_last && clusters_[last + 1] == clusters_[last] + 1) ++last;
    KESTREL_TRY_ASSIGN(base, cluster_offset(volume_, clusters_[holder]));
    const std::uint64_t within = at % cluster_size_;
    const std::uint64_t run_bytes = std::uint64_t{last - holder + 1} * cluster_size_ - within;
    const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(run_bytes, bytes.size()));
    KESTREL_TRY(read_exact(source, *base + within, bytes.first(piece)));
    bytes = bytes.subspan(piece);
    at += piece;
  }
  return {};
}

}  // namespace kestrel
