#pragma once

#include <expected>
#include <string>

#include "cli/command_error.hpp"
#include "cli/output.hpp"
#include "platform/device_platform.hpp"

namespace kestrel {

// The devices command: the listing of list_devices printed as a document on
// standard output.
std::expected<void, CommandError> run_devices_command(DevicePlatform& platform, Output& output);

}  // namespace kestrel
