#pragma once

#include <string>

#include "cli/command_error.hpp"

namespace kestrel {

// The message a failure is shown by: the display form of a core or source
// error, the system's text of a bare operating-system failure, the front
// end's own texts (cli_messages.hpp) with their values filled in, and for an
// argument error its message, a line feed and the usage block. Every message
// of the front end is decided here.
std::string render_error(const CommandError& error);

}  // namespace kestrel
