// Failures of standard output as Windows stages them: a pipe whose reader is
// gone, and a handle that may not be written.
#include <windows.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <cstdio>

#include "cli/output.hpp"
#include "cli/render_error.hpp"
#include "os/os_error.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

// A C stream over a Win32 handle; the stream owns the handle afterwards.
std::FILE* stream_over(HANDLE handle) {
  const int descriptor =
      ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  EXPECT_NE(descriptor, -1);
  std::FILE* stream = ::_fdopen(descriptor, "wb");
  EXPECT_NE(stream, nullptr);
  return stream;
}

TEST(Output, ClosedPipeIsAFailedResultWithTheSystemText) {
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, 0));
  ::CloseHandle(read_end);
  std::FILE* pipe_out = stream_over(write_end);
  Output output(pipe_out, stderr);
  output.print_result_line("RESULT", "KESTREL_RECOVERY_OK");
  auto finished = output.finish_result();
  ASSERT_FALSE(finished);
  // Windows reports a pipe without a reader as "being closed" (232); Wine as
  // broken (109). Both are the broken-pipe category.
  const std::string prefix = "cannot write the result to standard output: ";
  EXPECT_TRUE(render_error(finished.error()) == prefix + os_error_text(ERROR_NO_DATA) ||
              render_error(finished.error()) == prefix + os_error_text(ERROR_BROKEN_PIPE))
      << render_error(finished.error());
  std::fclose(pipe_out);
}

TEST(Output, HandleThatMayNotBeWrittenIsAFailedResult) {
  TempDir dir;
  write_file(dir / "read-only-view", "");
  HANDLE read_only = ::CreateFileW((dir / "read-only-view").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(read_only, INVALID_HANDLE_VALUE);
  std::FILE* out = stream_over(read_only);
  Output output(out, stderr);
  ASSERT_TRUE(output.print_document(JsonValue{{"a", 1}}));
  auto finished = output.finish_result();
  ASSERT_FALSE(finished);
  EXPECT_EQ(render_error(finished.error()),
            "cannot write the result to standard output: " + os_error_text(ERROR_ACCESS_DENIED));
  std::fclose(out);
}

}  // namespace
}  // namespace kestrel::testing
