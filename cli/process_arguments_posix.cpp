#include <csignal>

#include "cli/process_arguments.hpp"

namespace kestrel {

std::expected<std::vector<std::string>, CommandError> process_arguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

void prepare_standard_streams() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace kestrel
