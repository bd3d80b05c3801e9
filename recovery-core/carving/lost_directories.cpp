#include "recovery-core/carving/lost_directories.hpp"

#include <algorithm>

#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/exfat/exfat_cluster_recognition.hpp"
#include "recovery-core/exfat/exfat_lost_cluster.hpp"
#include "recovery-core/fat32/fat32_directory.hpp"
#include "recovery-core/fat32/fat32_directory_entry.hpp"

namespace kestrel {

namespace {

// As much of an exFAT cluster as the directory walks look at.
constexpr std::size_t kExfatProbeBytes = std::size_t{64} * 1024;

}  // namespace

std::size_t LostFat32Directories::probe_bytes() const { return kFat32DirectoryStartBytes; }

std::expected<std::optional<SinkReply>, RecoveryError> LostFat32Directories::list(
    std::uint32_t cluster, std::span<const std::uint8_t> start, CandidateSink& sink) {
  if (start.size() < kFat32DirectoryStartBytes ||
      !starts_fat32_directory(start, cluster, volume_.width)) {
    return std::optional<SinkReply>{};
  }
  KESTREL_TRY_ASSIGN(listed, list_lost_fat32_directory(source_, volume_, cluster, sink));
  return std::optional<SinkReply>{*listed};
}

std::size_t LostExfatDirectories::probe_bytes() const {
  return std::min<std::size_t>(cluster_size_, kExfatProbeBytes);
}

std::expected<std::optional<SinkReply>, RecoveryError> LostExfatDirectories::list(
    std::uint32_t cluster, std::span<const std::uint8_t> start, CandidateSink& sink) {
  if (!holds_exfat_entry_sets(start)) return std::optional<SinkReply>{};
  return std::optional<SinkReply>{
      list_lost_exfat_cluster(start, cluster, partition_index_, builder_, sink)};
}

}  // namespace kestrel
