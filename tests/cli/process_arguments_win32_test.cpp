// The tool reads its arguments from the wide command line: every Unicode
// character arrives intact, whatever the system's ANSI code page, and an
// argument that is not Unicode text is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line.hpp"
#include "tests/support/run_cli.hpp"

namespace kestrel::testing {
namespace {

std::string argument_error(const std::string& message) {
  return "KESTREL_ERROR=" + message + "\n" + std::string(usage_block()) + "\n";
}

TEST(WideArguments, ArriveAsTheSameUtf8Text) {
  const std::string arguments[] = {
      "--사진",                       // Korean
      "--\xF0\x9F\x93\xB7-\xC3\xA9",  // beyond the BMP, and Latin-1
      "--with space",                 // needs quoting
      "--quote\"inside",              // an escaped quotation mark
      R"(--trailing\)",               // a backslash before the closing quote
      R"(--\\server\share\"x\")",     // backslashes before quotation marks
  };
  for (const std::string& argument : arguments) {
    const CliRun run = run_cli({"scan", "--image", "a.img", argument});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, argument_error("unknown argument: " + argument)) << argument;
  }
  // A control character arrives intact too; the error line shows it escaped.
  const CliRun tab = run_cli({"scan", "--image", "a.img", "--tab\there"});
  EXPECT_EQ(tab.err, argument_error("unknown argument: --tab\\there"));
}

TEST(WideArguments, UnpairedSurrogateIsRefusedBeforeAnythingElse) {
  // ED A0 80 stands for the lone high surrogate U+D800 (see run_cli).
  const CliRun run = run_cli({"scan", "--image", "card\xED\xA0\x80.img", "--bogus"});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, argument_error("argument is not valid Unicode text: card\xEF\xBF\xBD.img"));

  const CliRun low = run_cli({"frobnicate", "\xED\xB0\x80"});
  EXPECT_EQ(low.err, argument_error("argument is not valid Unicode text: \xEF\xBF\xBD"));
}

}  // namespace
}  // namespace kestrel::testing
