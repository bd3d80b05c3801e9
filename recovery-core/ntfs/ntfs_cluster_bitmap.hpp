#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <vector>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/ntfs/ntfs_mft.hpp"
#include "recovery-core/ntfs/ntfs_stream.hpp"

namespace kestrel {

// $Bitmap: one bit per cluster, set while a file holds it. Read in blocks of
// 64 KiB, the last one kept, so memory does not grow with the volume.
class NtfsClusterBitmap {
 public:
  // The bitmap of the volume's record 6; nothing when it cannot be read.
  static std::optional<NtfsClusterBitmap> locate(NtfsMft& mft, ByteSource& source);

  // Whether any of `count` clusters from `first` is in use now. Clusters the
  // bitmap does not cover count as in use.
  std::expected<bool, RecoveryError> any_in_use(std::uint64_t first, std::uint64_t count);

  std::uint64_t cluster_count() const { return cluster_count_; }
  const NtfsStream& stream() const { return stream_; }

 private:
  NtfsClusterBitmap(NtfsStream stream, std::uint64_t cluster_count)
      : stream_(std::move(stream)), cluster_count_(cluster_count) {}

  std::expected<std::uint8_t, RecoveryError> byte_at(std::uint64_t index);

  NtfsStream stream_;
  std::uint64_t cluster_count_;
  std::vector<std::uint8_t> block_;
  std::uint64_t block_start_ = UINT64_MAX;
};

}  // namespace kestrel
