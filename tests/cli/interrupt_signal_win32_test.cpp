// Ctrl+C on the console of an imaging run raises the interrupt flag instead
// of ending the process. The checks run in a probe with a console of its own
// (tests/cli/console_interrupt_probe_win32.cpp), since only a process that
// owns a console receives its control events.
#include <gtest/gtest.h>

#include "tests/support/run_cli.hpp"

namespace kestrel::testing {
namespace {

TEST(InterruptSignal, CtrlCRaisesTheFlagAndStopsImagingBetweenChunks) {
  CliOptions options;
  options.executable = KESTREL_CONSOLE_INTERRUPT_PROBE_PATH;
  options.own_console = true;
  const CliRun run = run_cli({}, options);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 0);
}

}  // namespace
}  // namespace kestrel::testing
