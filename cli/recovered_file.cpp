#include "cli/recovered_file.hpp"

#include "cli/destination_space.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/extraction/extraction.hpp"

namespace kestrel {

std::expected<std::uint64_t, CommandError> recover_to_file(DevicePlatform& platform,
                                                           ByteSource& source,
                                                           const RecoveryCandidate& candidate,
                                                           const std::filesystem::path& destination,
                                                           FileDurability durability) {
  KESTREL_TRY_ASSIGN(file, FileOutput::create(destination, durability));
  // A planning failure is left to the extraction, which meets it again and
  // reports it in its own order of checks.
  auto plan = plan_extraction(source, candidate);
  if (plan) {
    KESTREL_TRY(check_room_for(platform, destination, plan->length));
  }
  KESTREL_TRY_ASSIGN(written, plan ? extract_candidate(source, candidate, *plan, *file)
                                   : extract_candidate(source, candidate, *file));
  return *written;
}

}  // namespace kestrel
