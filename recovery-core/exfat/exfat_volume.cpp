#include "recovery-core/exfat/exfat_volume.hpp"

#include <iterator>
#include <optional>
#include <string_view>

#include "recovery-core/candidates/untangled_listing.hpp"
#include "recovery-core/carving/free_space_carving.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/exfat/exfat_allocation_bitmap.hpp"
#include "recovery-core/exfat/exfat_boot_region.hpp"
#include "recovery-core/exfat/exfat_cluster_use.hpp"
#include "recovery-core/exfat/exfat_directory.hpp"
#include "recovery-core/exfat/exfat_lost_directories.hpp"
#include "recovery-core/exfat/exfat_messages.hpp"
#include "recovery-core/exfat/exfat_tree_walk.hpp"

namespace kestrel {

namespace {

// The warning that says which boot region failed its checksum, if one did.
std::optional<std::string_view> boot_region_warning(const BootValidation& validation) {
  if (!validation.main_boot_checksum_valid.value_or(true)) return kExfatMainInvalidWarning;
  if (!validation.backup_boot_checksum_valid.value_or(true)) return kExfatBackupInvalidWarning;
  return std::nullopt;
}

class ExfatVolume final : public Volume {
 public:
  ExfatVolume(ByteSource& source, const ExfatBoot& boot, std::uint32_t partition_index)
      : source_(source), boot_(boot), partition_index_(partition_index) {}

  FilesystemReport header() const override {
    FilesystemReport report;
    report.partition_index = partition_index_;
    report.kind = FilesystemKind::Exfat;
    report.validation = boot_.validation;
    if (auto warning = boot_region_warning(boot_.validation))
      report.warnings.emplace_back(*warning);
    report.warnings.insert(report.warnings.end(), std::begin(kExfatWarnings),
                           std::end(kExfatWarnings));
    return report;
  }

  std::expected<void, RecoveryError> list_files(CandidateSink& sink,
                                                const ScanOptions& options) override {
    const auto scan = options.all_directories ? scan_exfat_tree : scan_exfat_root;
    const auto listing = [&](CandidateSink& into) {
      return scan(source_, boot_.volume, partition_index_, boot_.root_cluster, into);
    };
    if (!options.untangle) return listing(sink);
    // Which clusters live files hold is the bitmap's to say; without one
    // nothing is planned.
    const std::optional<ExfatAllocationBitmap> bitmap =
        ExfatAllocationBitmap::locate(source_, boot_.volume, boot_.root_cluster);
    if (!bitmap) return listing(sink);
    ExfatBitmapUse use(source_, *bitmap);
    return list_untangled(source_, cluster_area(boot_.volume), use, listing, sink);
  }

  // The clusters the allocation bitmap marks free, at cluster starts; the whole
  // heap when the root directory has no usable bitmap.
  std::expected<SinkReply, RecoveryError> carve_free_space(
      const std::vector<std::uint64_t>& known_starts, CandidateSink& sink,
      const ProgressSink& progress) override {
    const ExfatGeometry& volume = boot_.volume;
    KESTREL_TRY_ASSIGN(unit, cluster_size(volume));
    const std::optional<ExfatAllocationBitmap> bitmap =
        ExfatAllocationBitmap::locate(source_, volume, boot_.root_cluster);
    LostExfatDirectories lost(source_, volume, partition_index_, *unit);
    const CarvingTarget target{partition_index_,
                               FilesystemKind::Exfat,
                               cluster_area(volume),
                               UnitGrid{volume.heap_offset, *unit},
                               true,
                               &lost};
    FreeClusters clusters = bitmap
                                ? FreeClusters::from_bitmap(source_, *bitmap, volume.cluster_count)
                                : FreeClusters::all(source_, volume.cluster_count);
    return carve_free_clusters(source_, clusters, target, known_starts, sink, progress);
  }

 private:
  ByteSource& source_;
  ExfatBoot boot_;
  std::uint32_t partition_index_;
};

}  // namespace

bool recognises_exfat(std::span<const std::uint8_t> boot_sector) {
  return is_exfat_boot_sector(boot_sector);
}

std::expected<std::unique_ptr<Volume>, RecoveryError> open_exfat(
    ByteSource& source, std::span<const std::uint8_t> boot_sector, const VolumePlace& place) {
  KESTREL_TRY_ASSIGN(
      boot, read_exfat_boot_region(source, boot_sector, place.offset, place.source_length));
  return std::unique_ptr<Volume>(
      std::make_unique<ExfatVolume>(source, *boot, place.partition.index));
}

}  // namespace kestrel
