#include "cli/devices_command.hpp"

#include "cli/cli_messages.hpp"
#include "platform/device_identity/device_listing.hpp"
#include "recovery-core/json/json_layout.hpp"

namespace kestrel {

std::expected<void, std::string> run_devices_command(DevicePlatform& platform, Output& output) {
  auto listing = list_devices(platform);
  if (!listing) {
    return std::unexpected(cli_messages::drive_letters_unreadable(system_text(listing.error())));
  }
  return output.print_document(to_json(*listing));
}

}  // namespace kestrel
