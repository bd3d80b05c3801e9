#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include "cli/command_error.hpp"
#include "cli/command_line.hpp"
#include "cli/output.hpp"
#include "platform/device_platform.hpp"

namespace kestrel {

// The image command, from the parsed command line to the printed result: the
// source opened, the destination checked against it and for room, the
// checkpoint loaded when resuming, the engine run with progress on standard
// error, the finished image's checkpoint removed.
std::expected<void, CommandError> run_image_command(DevicePlatform& platform,
                                                    const ImageCommand& command, Output& output);

// Refuses an output that would land on physical drive S: by its drive
// letter's disk when it has one, and by the disks the platform places the
// nearest existing directory on (and the output itself, when it exists).
std::expected<void, CommandError> check_destination_disk(DevicePlatform& platform,
                                                         std::uint32_t source_drive,
                                                         const std::string& output);

// Refuses an output whose volume lacks room for what is still to be copied
// (InsufficientSpace), where required is the capacity less the length
// already at the output. Answers that length
// (0 when there is no file).
std::expected<std::uint64_t, CommandError> check_destination_space(DevicePlatform& platform,
                                                                   std::uint64_t capacity,
                                                                   const std::string& output);

}  // namespace kestrel
