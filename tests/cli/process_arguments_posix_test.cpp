// On Linux the arguments are bytes and reach the tool unchanged, so a file
// whose name is not UTF-8 can still be named.
#include <gtest/gtest.h>

#include <string>

#include "cli/command_line.hpp"
#include "tests/support/run_cli.hpp"

namespace kestrel::testing {
namespace {

TEST(ByteArguments, ArriveUnchangedEvenWhenNotUtf8) {
  const std::string argument = "--caf\xE9-\xFF";
  const CliRun run = run_cli({"scan", "--image", "a.img", argument});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.err, "KESTREL_ERROR=unknown argument: " + argument + "\n" +
                         std::string(usage_block()) + "\n");
}

}  // namespace
}  // namespace kestrel::testing
