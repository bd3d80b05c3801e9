#include "recovery-core/raw/raw_area.hpp"

#include <algorithm>
#include <string_view>

#include "recovery-core/carving/free_space_carving.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

// The only warning of such a partition's report.
constexpr std::string_view kNoSignatureWarning = "FAT32/exFAT signature not found";

class RawArea final : public Volume {
 public:
  RawArea(ByteSource& source, const VolumePlace& place)
      : source_(source),
        partition_index_(place.partition.index),
        offset_(place.offset),
        sector_size_(place.sector_size) {
    // A table that gives no length (or an impossible one) leaves the rest of the source.
    const std::uint64_t available = place.source_length - place.offset;
    auto claimed = checked_mul(place.partition.sector_count, place.sector_size);
    length_ = claimed && *claimed != 0 ? std::min(*claimed, available) : available;
  }

  FilesystemReport header() const override {
    FilesystemReport report;
    report.partition_index = partition_index_;
    report.kind = FilesystemKind::Unknown;
    report.warnings.emplace_back(kNoSignatureWarning);
    return report;
  }

  std::expected<void, RecoveryError> list_files(CandidateSink&, const ScanOptions&) override {
    return {};
  }

  std::expected<SinkReply, RecoveryError> carve_free_space(const std::vector<std::uint64_t>&,
                                                           CandidateSink& sink,
                                                           const ProgressSink& progress) override {
    return carve_whole_area(source_, partition_index_, offset_, length_, sector_size_, sink,
                            progress);
  }

 private:
  ByteSource& source_;
  std::uint32_t partition_index_;
  std::uint64_t offset_;
  std::uint64_t length_ = 0;
  std::uint32_t sector_size_;
};

}  // namespace

std::unique_ptr<Volume> open_raw_area(ByteSource& source, const VolumePlace& place) {
  return std::make_unique<RawArea>(source, place);
}

}  // namespace kestrel
