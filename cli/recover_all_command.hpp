#pragma once

#include <expected>
#include <string>

#include "cli/command_error.hpp"
#include "cli/command_line.hpp"
#include "cli/output.hpp"
#include "platform/device_platform.hpp"

namespace kestrel {

// Copies every selected candidate into new files in the output directory,
// prints the batch document, and fails afterwards when any item failed. An
// item whose destination lacks the free space for its bytes (the platform's
// answer) fails with the insufficient-space error.
std::expected<void, CommandError> run_recover_all_command(DevicePlatform& platform,
                                                          const RecoverAllCommand& command,
                                                          Output& output);

}  // namespace kestrel
