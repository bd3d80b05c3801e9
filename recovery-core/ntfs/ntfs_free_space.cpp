#include "recovery-core/ntfs/ntfs_free_space.hpp"

#include <algorithm>

#include "recovery-core/carving/carving_pass.hpp"
#include "recovery-core/carving/free_clusters.hpp"
#include "recovery-core/carving/free_space_carving.hpp"

namespace kestrel {

namespace {

// $Bitmap seen as the carving pass reads allocation bitmaps. Its bit 0 is
// cluster 0, which the pass numbers 2: the grid's origin is cluster 0, so the
// offsets come out right.
class BitmapOfClusters final : public ClusterBitmap {
 public:
  explicit BitmapOfClusters(const NtfsClusterBitmap& bitmap) : bitmap_(bitmap) {}

  std::uint64_t byte_count() const override { return (bitmap_.cluster_count() + 7) / 8; }
  std::expected<void, RecoveryError> read(ByteSource&, std::uint64_t first_byte,
                                          std::span<std::uint8_t> bytes) const override {
    return bitmap_.stream().read(first_byte, bytes);
  }

 private:
  const NtfsClusterBitmap& bitmap_;
};

}  // namespace

std::expected<SinkReply, RecoveryError> carve_ntfs_free_space(
    ByteSource& source, const NtfsGeometry& geometry, const NtfsClusterBitmap* bitmap,
    std::uint32_t partition_index, const std::vector<std::uint64_t>& known_starts,
    CandidateSink& sink, const ProgressSink& progress) {
  // The carving pass counts clusters in 32 bits; volumes past that are carved
  // as far as it counts.
  const auto count =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(geometry.cluster_count, UINT32_MAX - 2));
  CarvingTarget target{partition_index, FilesystemKind::Ntfs, AreaWithoutClusters{},
                       UnitGrid{geometry.volume_offset, geometry.cluster_size}, true};
  target.first_cluster_number = 0;
  std::optional<BitmapOfClusters> clusters_bitmap;
  if (bitmap != nullptr) clusters_bitmap.emplace(*bitmap);
  FreeClusters clusters = clusters_bitmap
                              ? FreeClusters::from_bitmap(source, *clusters_bitmap, count)
                              : FreeClusters::all(source, count);
  return carve_free_clusters(source, clusters, target, known_starts, sink, progress);
}

}  // namespace kestrel
