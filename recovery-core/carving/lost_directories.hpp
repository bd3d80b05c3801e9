#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "recovery-core/candidates/candidate_builder.hpp"
#include "recovery-core/candidates/candidate_sink.hpp"
#include "recovery-core/chains/volume_geometry.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Recognises, at the start of a free cluster, directory entries that no
// directory reaches any more (a quick format, a folder entry overwritten, an
// allocation table damaged) and lists the files they describe.
class LostDirectories {
 public:
  virtual ~LostDirectories() = default;

  // How many bytes of a cluster's start list() wants to see.
  virtual std::size_t probe_bytes() const = 0;

  // Nothing when `start`, the first probe_bytes() of the free cluster
  // `cluster`, holds no directory entries of the volume's kind. Otherwise
  // their files went to `sink`, and the reply is the sink's last.
  virtual std::expected<std::optional<SinkReply>, RecoveryError> list(
      std::uint32_t cluster, std::span<const std::uint8_t> start, CandidateSink& sink) = 0;
};

// FAT32: a cluster that starts with "." naming it and "..", listed by
// list_lost_fat32_directory.
class LostFat32Directories final : public LostDirectories {
 public:
  LostFat32Directories(ByteSource& source, const Fat32Volume& volume)
      : source_(source), volume_(volume) {}

  std::size_t probe_bytes() const override;
  std::expected<std::optional<SinkReply>, RecoveryError> list(std::uint32_t cluster,
                                                              std::span<const std::uint8_t> start,
                                                              CandidateSink& sink) override;

 private:
  ByteSource& source_;
  const Fat32Volume& volume_;
};

// exFAT: a cluster whose first 64 KiB hold sound entry sets (see
// holds_exfat_entry_sets), listed by list_lost_exfat_cluster.
class LostExfatDirectories final : public LostDirectories {
 public:
  LostExfatDirectories(ByteSource& source, const ExfatVolume& volume, std::uint32_t partition_index,
                       std::uint32_t cluster_size)
      : builder_(source, volume), partition_index_(partition_index), cluster_size_(cluster_size) {}

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
