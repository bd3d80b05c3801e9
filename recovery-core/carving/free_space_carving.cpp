#include "recovery-core/carving/free_space_carving.hpp"

#include <optional>

#include "recovery-core/candidates/candidate_builder.hpp"
#include "recovery-core/carving/carving_pass.hpp"
#include "recovery-core/carving/free_clusters.hpp"
#include "recovery-core/carving/lost_directories.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/exfat/exfat_allocation_bitmap.hpp"

namespace kestrel {

namespace {

// The free clusters of a volume as byte runs.
class FreeClusterRuns final : public SearchRuns {
 public:
  FreeClusterRuns(FreeClusters& clusters, std::uint64_t origin, std::uint32_t unit)
      : clusters_(clusters), origin_(origin), unit_(unit) {}

  std::expected<std::optional<ByteRun>, RecoveryError> next() override {
    KESTREL_TRY_ASSIGN(run, clusters_.next_run());
    if (!*run) return std::optional<ByteRun>{};
    return ByteRun{origin_ + std::uint64_t{(*run)->first - 2} * unit_,
                   std::uint64_t{(*run)->count} * unit_};
  }

 private:
  FreeClusters& clusters_;
  std::uint64_t origin_;
  std::uint32_t unit_;
};

// One run: a whole area.
class WholeArea final : public SearchRuns {
 public:
  explicit WholeArea(ByteRun run) : run_(run) {}

  std::expected<std::optional<ByteRun>, RecoveryError> next() override {
    if (given_) return std::optional<ByteRun>{};
    given_ = true;
    return run_;
  }

 private:
  ByteRun run_;
  bool given_ = false;
};

std::expected<SinkReply, RecoveryError> carve_clusters(
    ByteSource& source, FreeClusters& clusters, const CarvingTarget& target,
    const std::vector<std::uint64_t>& known_starts, CandidateSink& sink,
    const ProgressSink& progress) {
  KESTREL_TRY_ASSIGN(free, clusters.count());
  FreeClusterRuns runs(clusters, target.grid.origin, target.grid.unit);
  return carve_runs(source, runs, *free * target.grid.unit, target, known_starts, sink, progress);
}

}  // namespace

std::expected<SinkReply, RecoveryError> carve_free_clusters(
    ByteSource& source, const Fat32Volume& volume, const std::vector<std::uint64_t>& known_starts,
    CandidateSink& sink, const ProgressSink& progress) {
  KESTREL_TRY_ASSIGN(unit, cluster_size(volume));
  LostFat32Directories lost(source, volume);
  const CarvingTarget target{volume.partition_index,
                             kind_of(volume),
                             volume,
                             UnitGrid{volume.data_offset, *unit},
                             true,
                             &lost};
  FreeClusters clusters =
      FreeClusters::from_fat(source, volume.fat_offset, volume.cluster_count, volume.width);
  return carve_clusters(source, clusters, target, known_starts, sink, progress);
}

std::expected<SinkReply, RecoveryError> carve_free_clusters(
    ByteSource& source, const ExfatVolume& volume, std::uint32_t partition_index,
    std::uint32_t root_cluster, const std::vector<std::uint64_t>& known_starts, CandidateSink& sink,
    const ProgressSink& progress) {
  KESTREL_TRY_ASSIGN(unit, cluster_size(volume));
  const std::optional<ExfatAllocationBitmap> bitmap =
      ExfatAllocationBitmap::locate(source, volume, root_cluster);
  LostExfatDirectories lost(source, volume, partition_index, *unit);
  const CarvingTarget target{partition_index,
                             FilesystemKind::Exfat,
                             volume,
                             UnitGrid{volume.heap_offset, *unit},
                             true,
                             &lost};
  FreeClusters clusters = bitmap ? FreeClusters::from_bitmap(source, *bitmap, volume.cluster_count)
                                 : FreeClusters::all(source, volume.cluster_count);
  return carve_clusters(source, clusters, target, known_starts, sink, progress);
}

std::expected<SinkReply, RecoveryError> carve_whole_area(
    ByteSource& source, std::uint32_t partition_index, std::uint64_t offset, std::uint64_t length,
    std::uint32_t sector_size, CandidateSink& sink, const ProgressSink& progress) {
  const CarvingTarget target{partition_index, FilesystemKind::Unknown, Fat32Volume{},
                             UnitGrid{offset, sector_size}, false};
  WholeArea area(ByteRun{offset, length});
  return carve_runs(source, area, length, target, {}, sink, progress);
}

}  // namespace kestrel
