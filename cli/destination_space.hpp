#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>

#include "cli/command_error.hpp"
#include "platform/device_platform.hpp"

namespace kestrel {

// The directory a path names its last component in, by the platform's path
// rules; "." for a lone name. A root is its own parent.
std::filesystem::path parent_directory(const std::filesystem::path& path);

// Fails unless the volume `destination` goes on has `required` bytes free (the
// platform's answer for its directory): InsufficientSpace, or the system's
// failure when the query fails.
// Nothing is asked when nothing is required.
std::expected<void, CommandError> check_room_for(DevicePlatform& platform,
                                                 const std::filesystem::path& destination,
                                                 std::uint64_t required);

}  // namespace kestrel
