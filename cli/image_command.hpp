#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include "cli/command_line.hpp"
#include "cli/output.hpp"
#include "platform/device_platform.hpp"

namespace kestrel {

// The image command: describes and opens the source (a physical drive or a
// volume), refuses a destination on the source disk and one without room,
// decides whether to resume, runs the imaging engine with progress lines on
// standard error, removes the checkpoint of a finished image and prints the
// result document. Every failure is returned as its message text.
std::expected<void, std::string> run_image_command(DevicePlatform& platform,
                                                   const ImageCommand& command, Output& output);

// Refuses an output that would be written onto physical drive S. An output
// whose absolute text starts with a drive letter is on that letter's physical
// drive; any other output is on the disks the platform names as holding its
// directory (the nearest one that exists) and, when the output exists, the
// output itself. Fails with "image destination is on the source physical disk".
std::expected<void, std::string> check_destination_disk(DevicePlatform& platform,
                                                        std::uint32_t source_drive,
                                                        const std::string& output);

// Refuses an output whose volume lacks room for what is still to be copied:
// "insufficient destination space: available={a} required={r}", where required
// is the capacity less the length already at the output. Answers that length
// (0 when there is no file).
std::expected<std::uint64_t, std::string> check_destination_space(DevicePlatform& platform,
                                                                  std::uint64_t capacity,
                                                                  const std::string& output);

}  // namespace kestrel
