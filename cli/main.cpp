#include <cstdio>

#include "cli/output.hpp"
#include "cli/process_arguments.hpp"
#include "cli/process_entry.hpp"
#include "platform/native_device_platform.hpp"

int main(int argc, char** argv) {
  kestrel::prepare_standard_streams();
  kestrel::Output output(stdout, stderr);
  const auto arguments = kestrel::process_arguments(argc, argv);
  if (!arguments) {
    output.print_error_line(arguments.error());
    return 2;
  }
  kestrel::NativeDevicePlatform platform;
  return kestrel::run_process(*arguments, output, platform);
}
