#include "recovery-core/carving/free_space_carving.hpp"

#include <optional>

#include "recovery-core/carving/carving_pass.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/errors/error_propagation.hpp"

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

}  // namespace

std::expected<SinkReply, RecoveryError> carve_free_clusters(
    ByteSource& source, FreeClusters& clusters, const CarvingTarget& target,
    const std::vector<std::uint64_t>& known_starts, CandidateSink& sink,
    const ProgressSink& progress) {
  KESTREL_TRY_ASSIGN(free, clusters.count());
  FreeClusterRuns runs(clusters, target.grid.origin, target.grid.unit);
  return carve_runs(source, runs, *free * target.grid.unit, target, known_starts, sink, progress);
}

std::expected<SinkReply, RecoveryError> carve_whole_area(
    ByteSource& source, std::uint32_t partition_index, std::uint64_t offset, std::uint64_t length,
    std::uint32_t sector_size, CandidateSink& sink, const ProgressSink& progress) {
  const CarvingTarget target{partition_index, FilesystemKind::Unknown, AreaWithoutClusters{},
                             UnitGrid{offset, sector_size}, false};
  WholeArea area(ByteRun{offset, length});
  return carve_runs(source, area, length, target, {}, sink, progress);
}

}  // namespace kestrel
