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
  bool close_stdout = false;                // standard output is a pipe nobody reads (a broken pipe)
  std::filesystem::path stdout_file;        // non-empty: standard output goes to this file (e.g. /dev/full)
  std::filesystem::path executable;         // empty: the shipped tool
  // Variables set in the tool's environment, on top of the test's own.
  std::vector<std::pair<std::string, std::string>> environment;
};

// Runs the tool as a user would and captures both streams and the exit code.
CliRun run_cli(const std::vector<std::string>& arguments, const CliOptions& options = {});

}  // namespace kestrel::testing
