#include "recovery-core/ntfs/ntfs_volume.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "recovery-core/carving/free_space_carving.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/ntfs/ntfs_boot_sector.hpp"
#include "recovery-core/ntfs/ntfs_cluster_bitmap.hpp"
#include "recovery-core/ntfs/ntfs_cluster_claims.hpp"
#include "recovery-core/ntfs/ntfs_deleted_file.hpp"
#include "recovery-core/ntfs/ntfs_folder_paths.hpp"
#include "recovery-core/ntfs/ntfs_free_space.hpp"
#include "recovery-core/ntfs/ntfs_messages.hpp"
#include "recovery-core/ntfs/ntfs_mft.hpp"
#include "recovery-core/ntfs/ntfs_record_limits.hpp"
#include "recovery-core/source/byte_range.hpp"
#include "recovery-core/text/utf16.hpp"

namespace kestrel {

namespace {

// The volume's name from $Volume's $VOLUME_NAME; none when it has none.
std::optional<std::string> volume_label(NtfsMft& mft) {
  auto record = mft.read(kVolumeRecord);
  if (!record || !*record) return std::nullopt;
  const NtfsAttribute* name = (*record)->first(NtfsAttributeType::VolumeName);
  if (name == nullptr || !name->resident || name->value.empty()) return std::nullopt;
  return decode_utf16_lossy(utf16_units_from_le_bytes(name->value));
}

class NtfsVolume final : public Volume {
 public:
  NtfsVolume(ByteSource& source, NtfsMft mft, std::uint32_t partition_index, bool backup_boot)
      : source_(source),
        mft_(std::move(mft)),
        partition_index_(partition_index),
        backup_boot_(backup_boot),
        label_(volume_label(mft_)),
        bitmap_(NtfsClusterBitmap::locate(mft_, source)) {}

  FilesystemReport header() const override {
    FilesystemReport report;
    report.partition_index = partition_index_;
    report.kind = FilesystemKind::Ntfs;
    report.label = label_;
    report.validation.using_backup_boot = backup_boot_;
    if (backup_boot_) report.warnings.emplace_back(kNtfsBackupBootWarning);
    if (mft_.used_mirror()) report.warnings.emplace_back(kNtfsMirrorWarning);
    if (mft_.continues_elsewhere()) report.warnings.emplace_back(kNtfsMftElsewhereWarning);
    if (damaged_records_ > 0) {
      report.warnings.push_back(std::string(kNtfsDamagedRecordsWarningHead) +
                                std::to_string(damaged_records_) +
                                std::string(kNtfsDamagedRecordsWarningTail));
    }
    report.warnings.emplace_back(kNtfsRunsWarning);
    report.warnings.emplace_back(kNtfsEncryptedWarning);
    return report;
  }

  // Two passes over the MFT: the first notes the clusters every deleted file
  // claims, the second lists the files, judging each against the others.
  std::expected<void, RecoveryError> list_files(CandidateSink& sink,
                                                const ScanOptions& options) override {
    NtfsFolderPaths paths(mft_);
    NtfsClusterClaims claims;
    NtfsCandidateContext context{source_,
                                 mft_,
                                 mft_.geometry(),
                                 partition_index_,
                                 bitmap_ ? &*bitmap_ : nullptr,
                                 &claims,
                                 options.all_directories ? &paths : nullptr,
                                 options.timestamps};
    auto claimed =
        for_each_record([&](std::uint64_t number,
                            const NtfsRecord& record) -> std::expected<SinkReply, RecoveryError> {
          KESTREL_TRY(claim_deleted_ntfs_record(context, number, record, claims));
          return SinkReply::Continue;
        });
    if (!claimed) return claimed;
    claims.seal();
    damaged_records_ = 0;
    return for_each_record(
        [&](std::uint64_t number, const NtfsRecord& record) {
          return list_deleted_ntfs_record(context, number, mft_.record_offset(number), record,
                                          sink);
        },
        &damaged_records_);
  }

  std::expected<SinkReply, RecoveryError> carve_free_space(
      const std::vector<std::uint64_t>& known_starts, CandidateSink& sink,
      const ProgressSink& progress) override {
    return carve_ntfs_free_space(source_, mft_.geometry(), bitmap_ ? &*bitmap_ : nullptr,
                                 partition_index_, known_starts, sink, progress);
  }

 private:
  // Hands `visit` every record that parses, in order, reading the MFT a block
  // at a time; a block that cannot be read is taken record by record. Records
  // that cannot be read or fail their fixups are counted in `damaged`.
  template <typename Visit>
  std::expected<void, RecoveryError> for_each_record(Visit&& visit,
                                                     std::uint64_t* damaged = nullptr) {
    const std::size_t size = mft_.geometry().record_size;
    const std::uint64_t per_block = std::max<std::uint64_t>(kMftBlockBytes / size, 1);
    std::uint64_t faults = 0;
    std::vector<std::uint8_t> block;
    for (std::uint64_t first = 0; first < mft_.record_count(); first += per_block) {
      const std::uint64_t count = std::min(per_block, mft_.record_count() - first);
      const bool whole = mft_.read_block(first, count, block).has_value();
      for (std::uint64_t i = 0; i < count; ++i) {
        std::vector<std::uint8_t> bytes;
        if (whole) {
          const auto at = block.begin() + static_cast<std::ptrdiff_t>(i * size);
          bytes.assign(at, at + static_cast<std::ptrdiff_t>(size));
        } else if (auto read = mft_.read_raw(first + i)) {
          bytes = std::move(*read);
        } else {
          ++faults;
          continue;
        }
        auto record = parse_ntfs_record(std::move(bytes));
        if (!record) {
          if (record.error() == NtfsRecordFault::Damaged) ++faults;
          continue;
        }
        KESTREL_TRY_ASSIGN(reply, visit(first + i, *record));
        if (*reply == SinkReply::Stop) return {};
      }
    }
    if (damaged != nullptr) *damaged = faults;
    return {};
  }

  ByteSource& source_;
  NtfsMft mft_;
  std::uint32_t partition_index_;
  bool backup_boot_;
  std::optional<std::string> label_;
  std::optional<NtfsClusterBitmap> bitmap_;
  std::uint64_t damaged_records_ = 0;
};

// The geometry the boot sector gives, checked against the source.
std::expected<NtfsGeometry, RecoveryError> volume_geometry(const NtfsBootSector& boot,
                                                           const VolumePlace& place) {
  KESTREL_TRY_ASSIGN(bytes, checked_mul(boot.total_sectors, boot.bytes_per_sector));
  KESTREL_TRY_ASSIGN(end, checked_add(place.offset, *bytes));
  if (*end > place.source_length) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kNtfsVolumeOutsideSource)));
  }
  return NtfsGeometry{place.offset, boot.cluster_size, boot.cluster_count(), boot.record_size};
}

std::expected<std::unique_ptr<Volume>, RecoveryError> open_with(ByteSource& source,
                                                                const NtfsBootSector& boot,
                                                                const VolumePlace& place,
                                                                bool backup) {
  KESTREL_TRY_ASSIGN(geometry, volume_geometry(boot, place));
  KESTREL_TRY_ASSIGN(mft, NtfsMft::open(source, boot, *geometry));
  return std::unique_ptr<Volume>(
      std::make_unique<NtfsVolume>(source, std::move(*mft), place.partition.index, backup));
}

// The backup boot sector: the last sector of the partition, for each sector
// size NTFS allows (the damaged main sector no longer says which).
std::optional<NtfsBootSector> backup_boot_sector(ByteSource& source, const VolumePlace& place) {
  const std::uint64_t length = std::min(place.partition.sector_count * place.sector_size,
                                        place.source_length - place.offset);
  for (const std::uint32_t size : {512U, 1024U, 2048U, 4096U}) {
    if (length < 2 * std::uint64_t{size}) continue;
    std::vector<std::uint8_t> sector(size);
    if (!read_exact(source, place.offset + length - size, sector)) continue;
    auto boot = parse_ntfs_boot_sector(sector);
    if (boot && boot->bytes_per_sector == size) return *boot;
  }
  return std::nullopt;
}

}  // namespace

bool recognises_ntfs(std::span<const std::uint8_t> boot_sector) { return names_ntfs(boot_sector); }

std::expected<std::unique_ptr<Volume>, RecoveryError> open_ntfs(
    ByteSource& source, std::span<const std::uint8_t> boot_sector, const VolumePlace& place) {
  auto main = parse_ntfs_boot_sector(boot_sector);
  if (main) return open_with(source, *main, place, false);
  if (auto backup = backup_boot_sector(source, place)) {
    return open_with(source, *backup, place, true);
  }
  return std::unexpected(main.error());
}

std::expected<std::unique_ptr<Volume>, RecoveryError> open_ntfs_from_backup(
    ByteSource& source, const VolumePlace& place) {
  const auto backup = backup_boot_sector(source, place);
  if (!backup) return std::unique_ptr<Volume>{};
  return open_with(source, *backup, place, true);
}

}  // namespace kestrel
