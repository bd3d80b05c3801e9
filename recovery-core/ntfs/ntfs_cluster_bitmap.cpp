#include "recovery-core/ntfs/ntfs_cluster_bitmap.hpp"

#include <algorithm>

#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/ntfs/ntfs_record_limits.hpp"

namespace kestrel {

namespace {

constexpr std::uint64_t kBlockBytes = std::uint64_t{64} * 1024;

}  // namespace

std::optional<NtfsClusterBitmap> NtfsClusterBitmap::locate(NtfsMft& mft, ByteSource& source) {
  auto record = mft.read(kBitmapRecord);
  if (!record || !*record) return std::nullopt;
  for (const NtfsAttribute& attribute : (*record)->attributes) {
    if (attribute.type != static_cast<std::uint32_t>(NtfsAttributeType::Data) ||
        !attribute.name.empty() || attribute.resident || attribute.first_vcn != 0) {
      continue;
    }
    auto runs = decode_ntfs_runs(attribute.runs, mft.geometry().cluster_count, kMostRunsPerStream);
    if (!runs) return std::nullopt;
    NtfsStream stream(source, mft.geometry(), std::move(*runs), attribute.data_size);
    const std::uint64_t covered = std::min(stream.length() * 8, mft.geometry().cluster_count);
    return NtfsClusterBitmap(std::move(stream), covered);
  }
  return std::nullopt;
}

std::expected<std::uint8_t, RecoveryError> NtfsClusterBitmap::byte_at(std::uint64_t index) {
  const std::uint64_t start = index / kBlockBytes * kBlockBytes;
  if (start != block_start_) {
    block_.resize(static_cast<std::size_t>(std::min(kBlockBytes, stream_.length() - start)));
    block_start_ = UINT64_MAX;
    KESTREL_TRY(stream_.read(start, block_));
    block_start_ = start;
  }
  return block_[static_cast<std::size_t>(index - start)];
}

std::expected<bool, RecoveryError> NtfsClusterBitmap::any_in_use(std::uint64_t first,
                                                                 std::uint64_t count) {
  if (first >= cluster_count_ || count > cluster_count_ - first) return true;
  std::uint64_t cluster = first;
  const std::uint64_t end = first + count;
  while (cluster < end) {
    KESTREL_TRY_ASSIGN(byte, byte_at(cluster / 8));
    // Whole bytes at once where the range covers them.
    if (cluster % 8 == 0 && end - cluster >= 8) {
      if (*byte != 0) return true;
      cluster += 8;
      continue;
    }
    if ((*byte & (1U << (cluster % 8))) != 0) return true;
    ++cluster;
  }
  return false;
}

}  // namespace kestrel
