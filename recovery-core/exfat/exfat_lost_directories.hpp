#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "recovery-core/candidates/candidate_builder.hpp"
#include "recovery-core/carving/lost_directories.hpp"
#include "recovery-core/exfat/exfat_geometry.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// exFAT: a free cluster whose first 64 KiB hold sound entry sets (see
// holds_exfat_entry_sets), listed by list_lost_exfat_cluster.
class LostExfatDirectories final : public LostDirectories {
 public:
  LostExfatDirectories(ByteSource& source, const ExfatGeometry& volume,
                       std::uint32_t partition_index, std::uint32_t cluster_size)
      : builder_(source, cluster_area(volume), FilesystemKind::Exfat),
        partition_index_(partition_index),
        cluster_size_(cluster_size) {}

  std::size_t probe_bytes() const override;
  std::expected<std::optional<SinkReply>, RecoveryError> list(std::uint32_t cluster,
                                                              std::span<const std::uint8_t> start,
                                                              CandidateSink& sink) override;

 private:
  CandidateBuilder builder_;
  std::uint32_t partition_index_;
  std::uint32_t cluster_size_;
};

}  // namespace kestrel
