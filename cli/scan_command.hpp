#pragma once

#include <expected>
#include <string>

#include "cli/command_error.hpp"
#include "cli/command_line.hpp"
#include "cli/output.hpp"

namespace kestrel {

// Inspects the image and prints the scan document.
std::expected<void, CommandError> run_scan_command(const ScanCommand& command, Output& output);

}  // namespace kestrel
