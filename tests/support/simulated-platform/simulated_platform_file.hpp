#pragma once

#include <expected>
#include <filesystem>
#include <memory>

#include "recovery-core/errors/source_error.hpp"
#include "tests/support/simulated-platform/simulated_platform.hpp"

namespace kestrel::testing {

// A simulated machine from a simulated-platform file (the JSON format in
// README.md beside this file). Content paths are taken relative to the file's
// directory. Fails with the generic kind, its text describing the problem and
// where it was found (InvalidData for a file that does not describe a machine).
std::expected<std::unique_ptr<SimulatedPlatform>, SourceError> load_simulated_platform(
    const std::filesystem::path& file);

}  // namespace kestrel::testing
