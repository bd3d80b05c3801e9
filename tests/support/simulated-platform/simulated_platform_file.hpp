#pragma once

#include <expected>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/recorded_device_platform.hpp"

namespace kestrel::testing {

// Builds a recorded device platform from a simulated-platform file (the JSON
// format described in README.md beside this file). Relative content paths are
// taken from the file's directory. Fails with a description of the problem.
std::expected<std::unique_ptr<RecordedDevicePlatform>, std::string> load_simulated_platform(
    const std::filesystem::path& file);

}  // namespace kestrel::testing
