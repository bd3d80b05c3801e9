#include "recovery-core/fat/fat_volume.hpp"

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "recovery-core/candidates/candidate_builder.hpp"
#include "recovery-core/candidates/untangled_listing.hpp"
#include "recovery-core/carving/free_space_carving.hpp"
#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/fat/fat12_16_boot_sector.hpp"
#include "recovery-core/fat/fat32_boot_sector.hpp"
#include "recovery-core/fat/fat_cluster_use.hpp"
#include "recovery-core/fat/fat_directory.hpp"
#include "recovery-core/fat/fat_lost_directories.hpp"
#include "recovery-core/fat/fat_messages.hpp"

namespace kestrel {

namespace {

// The closing warnings of a FAT report.
std::vector<std::string> fat_report_warnings(FatWidth width) {
  switch (width) {
    case FatWidth::Fat12:
      return {std::begin(kFat12Warnings), std::end(kFat12Warnings)};
    case FatWidth::Fat16:
      return {std::begin(kFat16Warnings), std::end(kFat16Warnings)};
    case FatWidth::Fat32:
      break;
  }
  return {std::begin(kFat32Warnings), std::end(kFat32Warnings)};
}

// A FAT12, FAT16 or FAT32 volume whose boot sector was read.
class FatVolume final : public Volume {
 public:
  FatVolume(ByteSource& source, Fat32BootSector boot) : source_(source), boot_(std::move(boot)) {}

  FilesystemReport header() const override {
    FilesystemReport report;
    report.partition_index = boot_.volume.partition_index;
    report.kind = kind_of(boot_.volume);
    report.label = boot_.label;
    report.warnings = fat_report_warnings(boot_.volume.width);
    return report;
  }

  std::expected<void, RecoveryError> list_files(CandidateSink& sink,
                                                const ScanOptions& options) override {
    const Fat32Walk walk =
        options.all_directories ? Fat32Walk::AllDirectories : Fat32Walk::LiveTree;
    const auto listing = [&](CandidateSink& into) {
      return scan_fat32_volume(source_, boot_.volume, boot_.root_cluster, into, walk);
    };
    if (!options.untangle) return listing(sink);
    // Deleting a file clears its FAT entries: those still set are live files'.
    FatTableUse use(source_, cluster_area(boot_.volume));
    return list_untangled(source_, cluster_area(boot_.volume), use, listing, sink);
  }

  // The clusters the FAT marks free (entry 0), at cluster starts.
  std::expected<SinkReply, RecoveryError> carve_free_space(
      const std::vector<std::uint64_t>& known_starts, CandidateSink& sink,
      const ProgressSink& progress) override {
    const FatGeometry& volume = boot_.volume;
    KESTREL_TRY_ASSIGN(unit, cluster_size(volume));
    LostFatDirectories lost(source_, volume);
    const CarvingTarget target{volume.partition_index,
                               kind_of(volume),
                               cluster_area(volume),
                               UnitGrid{volume.data_offset, *unit},
                               true,
                               &lost};
    FreeClusters clusters = FreeClusters::from_table(source_, cluster_area(volume));
    return carve_free_clusters(source_, clusters, target, known_starts, sink, progress);
  }

 private:
  ByteSource& source_;
  Fat32BootSector boot_;
};

std::expected<std::unique_ptr<Volume>, RecoveryError> opened(ByteSource& source,
                                                             Fat32BootSector boot) {
  return std::unique_ptr<Volume>(std::make_unique<FatVolume>(source, std::move(boot)));
}

}  // namespace

bool recognises_fat12_16(std::span<const std::uint8_t> boot_sector) {
  return is_fat12_16_boot_sector(boot_sector);
}

std::expected<std::unique_ptr<Volume>, RecoveryError> open_fat12_16(
    ByteSource& source, std::span<const std::uint8_t> boot_sector, const VolumePlace& place) {
  KESTREL_TRY_ASSIGN(boot, read_fat12_16_boot_sector(boot_sector, place.offset,
                                                     place.partition.index, place.source_length));
  return opened(source, std::move(*boot));
}

bool recognises_fat32(std::span<const std::uint8_t> boot_sector) {
  return is_fat32_boot_sector(boot_sector);
}

std::expected<std::unique_ptr<Volume>, RecoveryError> open_fat32(
    ByteSource& source, std::span<const std::uint8_t> boot_sector, const VolumePlace& place) {
  KESTREL_TRY_ASSIGN(boot, read_fat32_boot_sector(boot_sector, place.offset, place.partition.index,
                                                  place.source_length));
  return opened(source, std::move(*boot));
}

}  // namespace kestrel
