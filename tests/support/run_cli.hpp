#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kestrel::testing {

struct CliRun {
  std::string out;
  std::string err;
  int exit_code = -1;
};

struct CliOptions {
  std::filesystem::path working_directory;  // empty: the test's own
  bool close_stdout = false;  // standard output is a pipe nobody reads (a broken pipe)
  std::filesystem::path
      stdout_file;  // non-empty: standard output goes to this file (e.g. /dev/full)
  std::filesystem::path executable;  // empty: the shipped tool
  // Variables set in the tool's environment, on top of the test's own.
  std::vector<std::pair<std::string, std::string>> environment;
  bool own_console = false;  // Windows: a console of its own, without a window
};

// Runs the tool as a user would and captures both streams and the exit code.
// Arguments are UTF-8 text. On Windows they reach the tool as a wide command
// line; there a surrogate spelled in UTF-8's pattern (ED A0 80 to ED BF BF,
// which valid UTF-8 never holds) becomes that lone UTF-16 unit, so a test can
// hand the tool an argument that is not Unicode text.
CliRun run_cli(const std::vector<std::string>& arguments, const CliOptions& options = {});

}  // namespace kestrel::testing
