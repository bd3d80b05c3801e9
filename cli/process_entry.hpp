#pragma once

#include <span>
#include <string>

#include "cli/command_error.hpp"
#include "cli/output.hpp"
#include "platform/device_platform.hpp"

namespace kestrel {

// Runs one invocation: reads the arguments after the program name, checks
// them, runs the chosen command and returns the exit code: 0 on success, 2
// after exactly one error line. A result that could not be written to
// standard output is a failure too. The device commands run on the platform
// given here.
int run_process(std::span<const std::string> arguments, Output& output, DevicePlatform& platform);

// Ends a failed run: the error's message as the one error line, and the exit
// code 2. The only place a message reaches standard error.
int end_with_error(Output& output, const CommandError& error);

}  // namespace kestrel
