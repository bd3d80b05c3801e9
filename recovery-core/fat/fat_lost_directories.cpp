#include "recovery-core/fat/fat_lost_directories.hpp"

#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/fat/fat_directory.hpp"
#include "recovery-core/fat/fat_directory_entry.hpp"

namespace kestrel {

std::size_t LostFatDirectories::probe_bytes() const { return kFat32DirectoryStartBytes; }

std::expected<std::optional<SinkReply>, RecoveryError> LostFatDirectories::list(
    std::uint32_t cluster, std::span<const std::uint8_t> start, CandidateSink& sink) {
  if (start.size() < kFat32DirectoryStartBytes ||
      !starts_fat32_directory(start, cluster, volume_.width)) {
    return std::optional<SinkReply>{};
  }
  KESTREL_TRY_ASSIGN(listed, list_lost_fat32_directory(source_, volume_, cluster, sink));
  return std::optional<SinkReply>{*listed};
}

}  // namespace kestrel
