// Failures of standard output that only POSIX systems can stage: a device
// that is always full, and a pipe whose reader is gone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "cli/output.hpp"
#include "cli/render_error.hpp"

namespace kestrel::testing {
namespace {

TEST(Output, FullDeviceIsAFailedResult) {
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  Output output(full, stderr);
  ASSERT_TRUE(output.print_document(JsonValue{{"a", 1}}));
  auto finished = output.finish_result();
  ASSERT_FALSE(finished);
  EXPECT_EQ(render_error(finished.error()),
            "cannot write the result to standard output: No space left on device (os error 28)");
  std::fclose(full);
}

TEST(Output, ClosedPipeIsAFailedResult) {
  std::signal(SIGPIPE, SIG_IGN);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  std::FILE* pipe_out = ::fdopen(fds[1], "w");
  Output output(pipe_out, stderr);
  output.print_result_line("RESULT", "KESTREL_RECOVERY_OK");
  auto finished = output.finish_result();
  ASSERT_FALSE(finished);
  EXPECT_EQ(render_error(finished.error()),
            "cannot write the result to standard output: Broken pipe (os error 32)");
  std::fclose(pipe_out);
}

}  // namespace
}  // namespace kestrel::testing
