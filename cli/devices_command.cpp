#include "cli/devices_command.hpp"

#include "platform/device_identity/device_listing.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/json/json_layout.hpp"

namespace kestrel {

std::expected<void, CommandError> run_devices_command(DevicePlatform& platform, Output& output) {
  auto listing = list_devices(platform);
  if (!listing) {
    return std::unexpected(CommandError::DriveLettersUnreadable{listing.error().io_failure()});
  }
  KESTREL_TRY(output.print_document(to_json(*listing)));
  return {};
}

}  // namespace kestrel
