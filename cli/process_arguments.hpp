#pragma once

#include <expected>
#include <string>
#include <vector>

#include "cli/command_error.hpp"

namespace kestrel {

// The arguments after the program name, as UTF-8 text.
//
// On Linux they are the bytes of argv, passed on unchanged: file names there
// are bytes, and one that is not valid UTF-8 still names its file.
//
// On Windows they are read from the wide (UTF-16) command line, since argv
// holds them in the ANSI code page and loses every character outside it. An
// argument holding an unpaired surrogate is not Unicode text, and no UTF-8
// spelling of it would name the same file, so the whole run is refused (with
// the usage block, like every other argument error) before anything is read.
std::expected<std::vector<std::string>, CommandError> process_arguments(int argc, char** argv);

// Prepares standard output and standard error for the protocol: on Linux a
// closed pipe must fail the write instead of killing the process (SIGPIPE is
// ignored); on Windows both streams are put in binary mode, so that a line
// feed is written as exactly one byte and never as a carriage return and a
// line feed.
void prepare_standard_streams();

}  // namespace kestrel
