#include <cstdio>

#include "cli/output.hpp"
#include "cli/process_arguments.hpp"
#include "cli/process_entry.hpp"
#ifdef _WIN32
#include "platform/windows/windows_device_platform.hpp"
#else
#include "platform/linux/linux_device_platform.hpp"
#endif

namespace {

// The shipped binary runs on the device backend of the system it was built for.
#ifdef _WIN32
using NativeDevicePlatform = kestrel::WindowsDevicePlatform;
#else
using NativeDevicePlatform = kestrel::LinuxDevicePlatform;
#endif

}  // namespace

int main(int argc, char** argv) {
  kestrel::prepare_standard_streams();
  kestrel::Output output(stdout, stderr);
  const auto arguments = kestrel::process_arguments(argc, argv);
  if (!arguments) return kestrel::end_with_error(output, arguments.error());
  NativeDevicePlatform platform;
  return kestrel::run_process(*arguments, output, platform);
}
