#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "recovery-core/carving/lost_directories.hpp"
#include "recovery-core/fat/fat_geometry.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// FAT12/16/32: a free cluster that starts with "." naming it and "..", listed
// by list_lost_fat32_directory.
class LostFatDirectories final : public LostDirectories {
 public:
  LostFatDirectories(ByteSource& source, const FatGeometry& volume)
      : source_(source), volume_(volume) {}

  std::size_t probe_bytes() const override;
  std::expected<std::optional<SinkReply>, RecoveryError> list(std::uint32_t cluster,
                                                              std::span<const std::uint8_t> start,
                                                              CandidateSink& sink) override;

 private:
  ByteSource& source_;
  const FatGeometry& volume_;
};

}  // namespace kestrel
