#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/output.hpp"
#include "cli/process_entry.hpp"
#include "platform/linux/linux_device_platform.hpp"

int main(int argc, char** argv) {
  // A closed pipe must surface as a failed write (and exit code 2), not kill
  // the process silently.
  std::signal(SIGPIPE, SIG_IGN);

  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  kestrel::Output output(stdout, stderr);
  kestrel::LinuxDevicePlatform platform;
  return kestrel::run_process(arguments, output, platform);
}
