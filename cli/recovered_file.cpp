#include "cli/recovered_file.hpp"

#include "cli/destination_space.hpp"
#include "recovery-core/extraction/extraction.hpp"

namespace kestrel {

std::expected<std::uint64_t, std::string> recover_to_file(DevicePlatform& platform, ByteSource& source,
                                                          const RecoveryCandidate& candidate,
                                                          const std::filesystem::path& destination,
                                                          FileDurability durability) {
  auto file = FileOutput::create(destination, durability);
  if (!file) return std::unexpected(file.error().message());
  // A planning failure is left to the extraction, which meets it again and
  // reports it in its own order of checks.
  if (auto planned = planned_extraction_length(source, candidate)) {
    if (auto room = check_room_for(platform, destination, *planned); !room) return std::unexpected(room.error());
  }
  auto written = extract_candidate(source, candidate, *file);
  if (!written) return std::unexpected(written.error().message());
  return *written;
}

}  // namespace kestrel
