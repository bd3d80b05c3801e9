#pragma once

#include <expected>
#include <string>

#include "cli/command_error.hpp"
#include "cli/command_line.hpp"
#include "cli/output.hpp"
#include "platform/device_platform.hpp"

namespace kestrel {

// Copies the candidate with the given id out of the image into a new file and
// prints the four result lines. An existing output is never touched; the
// destination's free space (the platform's answer) must hold the bytes to be
// written.
std::expected<void, CommandError> run_recover_command(DevicePlatform& platform,
                                                      const RecoverCommand& command,
                                                      Output& output);

}  // namespace kestrel
