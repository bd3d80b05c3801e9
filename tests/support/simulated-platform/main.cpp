// The tool as a user runs it, on a simulated device platform instead of the
// native one: a test-only build for end-to-end tests of image and devices.
// The platform is read from the file named by KESTREL_SIMULATED_PLATFORM.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/output.hpp"
#include "cli/process_arguments.hpp"
#include "cli/process_entry.hpp"
#include "tests/support/simulated-platform/simulated_platform_file.hpp"

int main(int argc, char** argv) {
  kestrel::prepare_standard_streams();
  const char* file = std::getenv("KESTREL_SIMULATED_PLATFORM");
  if (file == nullptr) {
    std::fputs("simulated platform: KESTREL_SIMULATED_PLATFORM is not set\n", stderr);
    return 3;
  }
  auto platform = kestrel::testing::load_simulated_platform(file);
  if (!platform) {
    std::fprintf(stderr, "simulated platform: %s\n",
                 platform.error().io_failure().message().c_str());
    return 3;
  }
  kestrel::Output output(stdout, stderr);
  const auto arguments = kestrel::process_arguments(argc, argv);
  if (!arguments) return kestrel::end_with_error(output, arguments.error());
  return kestrel::run_process(*arguments, output, **platform);
}
