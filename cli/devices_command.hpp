#pragma once

#include <expected>
#include <string>

#include "cli/output.hpp"
#include "platform/device_platform.hpp"

namespace kestrel {

// The devices command: lists the lettered volumes that may be imaged, with a
// warning for every other volume, as one JSON document on standard output.
std::expected<void, std::string> run_devices_command(DevicePlatform& platform, Output& output);

}  // namespace kestrel
