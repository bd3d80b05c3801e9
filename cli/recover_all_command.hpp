#pragma once

#include <expected>
#include <string>

#include "cli/command_line.hpp"
#include "cli/output.hpp"

namespace kestrel {

// Copies every selected candidate into new files in the output directory,
// prints the batch document, and fails afterwards when any item failed.
std::expected<void, std::string> run_recover_all_command(const RecoverAllCommand& command,
                                                         Output& output);

}  // namespace kestrel
