#include "recovery-core/ntfs/ntfs_stream.hpp"

#include <algorithm>
#include <string>

#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/ntfs/ntfs_messages.hpp"

namespace kestrel {

NtfsStream::NtfsStream(ByteSource& source, const NtfsGeometry& geometry, std::vector<NtfsRun> runs,
                       std::uint64_t length)
    : source_(&source), geometry_(geometry), runs_(std::move(runs)) {
  std::uint64_t start = 0;
  for (const NtfsRun& run : runs_) {
    run_starts_.push_back(start);
    start += run.length;
  }
  length_ = std::min(length, start * geometry_.cluster_size);
}

std::expected<void, RecoveryError> NtfsStream::read(std::uint64_t offset,
                                                    std::span<std::uint8_t> buffer) const {
  if (offset > length_ || buffer.size() > length_ - offset) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kNtfsReadPastStream)));
  }
  const std::uint64_t cluster_size = geometry_.cluster_size;
  std::size_t done = 0;
  while (done < buffer.size()) {
    const std::uint64_t at = offset + done;
    const std::uint64_t cluster = at / cluster_size;
    const auto after = std::upper_bound(run_starts_.begin(), run_starts_.end(), cluster);
    const auto index = static_cast<std::size_t>(after - run_starts_.begin()) - 1;
    const NtfsRun& run = runs_[index];
    const std::uint64_t into_run = at - run_starts_[index] * cluster_size;
    const auto piece = buffer.subspan(done).first(static_cast<std::size_t>(
        std::min<std::uint64_t>(buffer.size() - done, run.length * cluster_size - into_run)));
    if (run.hole) {
      std::fill(piece.begin(), piece.end(), std::uint8_t{0});
    } else {
      KESTREL_TRY(read_exact(*source_, geometry_.cluster_offset(run.first) + into_run, piece));
    }
    done += piece.size();
  }
  return {};
}

std::optional<std::uint64_t> NtfsStream::source_offset(std::uint64_t offset) const {
  const std::uint64_t cluster = offset / geometry_.cluster_size;
  const auto after = std::upper_bound(run_starts_.begin(), run_starts_.end(), cluster);
  if (after == run_starts_.begin()) return std::nullopt;
  const auto index = static_cast<std::size_t>(after - run_starts_.begin()) - 1;
  const NtfsRun& run = runs_[index];
  const std::uint64_t into_run = offset - run_starts_[index] * geometry_.cluster_size;
  if (run.hole || into_run >= run.length * geometry_.cluster_size) return std::nullopt;
  return geometry_.cluster_offset(run.first) + into_run;
}

}  // namespace kestrel
