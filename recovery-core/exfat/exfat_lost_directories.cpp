#include "recovery-core/exfat/exfat_lost_directories.hpp"

#include <algorithm>

#include "recovery-core/exfat/exfat_cluster_recognition.hpp"
#include "recovery-core/exfat/exfat_lost_cluster.hpp"

namespace kestrel {

namespace {

// As much of an exFAT cluster as the directory walks look at.
constexpr std::size_t kExfatProbeBytes = std::size_t{64} * 1024;

}  // namespace

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
