#pragma once

#include <expected>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/simulated-platform/simulated_platform.hpp"

namespace kestrel::testing {

// A simulated machine from a simulated-platform file (the JSON format in
// README.md beside this file). Content paths are taken relative to the file's
// directory. Fails with a description of the problem.
std::expected<std::unique_ptr<SimulatedPlatform>, std::string> load_simulated_platform(
    const std::filesystem::path& file);

}  // namespace kestrel::testing
