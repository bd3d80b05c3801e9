// Runs the built tool with argument lists and compares both streams and the
// exit code byte for byte.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "cli/command_line.hpp"
#include "cli/error_line.hpp"
#include "cli/render_error.hpp"
#include "tests/support/run_cli.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

const std::string kUsage =
    "usage:\n"
    "kestrel-recovery-cli devices\n"
    "kestrel-recovery-cli scan --image <path> [--sector-size 512]\n"
    "kestrel-recovery-cli recover --image <path> --id <candidate> --output <path>\n"
    "kestrel-recovery-cli recover-all --image <path> --output-directory <path> [--name-prefix "
    "<prefix>]\n"
    "kestrel-recovery-cli image (--physical-drive <N> | --volume <LETTER>) --output <path> "
    "[--no-resume]\n";

std::string argument_error(const std::string& message) {
  return "KESTREL_ERROR=" + message + "\n" + kUsage;
}

struct ArgumentCase {
  std::vector<std::string> arguments;
  std::string expected_err;
};

class ArgumentErrors : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentErrors, PrintOneErrorLineWithUsageAndNothingOnStdout) {
  const CliRun run = run_cli(GetParam().arguments);
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, GetParam().expected_err);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, ArgumentErrors,
    ::testing::Values(
        ArgumentCase{{}, argument_error("missing command")},
        ArgumentCase{{"scan", "--sector-size"}, argument_error("--sector-size requires a value")},
        ArgumentCase{{"scan", "--sector-size", "4096x", "--image", "a"},
                     argument_error("invalid --sector-size: invalid digit found in string")},
        ArgumentCase{
            {"scan", "--sector-size", "", "--image", "a"},
            argument_error("invalid --sector-size: cannot parse integer from empty string")},
        ArgumentCase{
            {"scan", "--sector-size", "4294967296", "--image", "a"},
            argument_error("invalid --sector-size: number too large to fit in target type")},
        ArgumentCase{{"scan", "--sector-size", "-1"},
                     argument_error("invalid --sector-size: invalid digit found in string")},
        ArgumentCase{{"scan", "--sector-size", "+"},
                     argument_error("invalid --sector-size: invalid digit found in string")},
        ArgumentCase{{"scan", "--sector-size", "0x200"},
                     argument_error("invalid --sector-size: invalid digit found in string")},
        ArgumentCase{{"scan", "--sector-size", " 512"},
                     argument_error("invalid --sector-size: invalid digit found in string")},
        ArgumentCase{{"image", "--physical-drive"},
                     argument_error("--physical-drive requires a value")},
        ArgumentCase{{"image", "--physical-drive", "x1", "--output", "o"},
                     argument_error("invalid --physical-drive: invalid digit found in string")},
        ArgumentCase{{"scan", "--image", "a.img", "--image"},
                     argument_error("--image is required")},
        ArgumentCase{{"scan"}, argument_error("--image is required")},
        ArgumentCase{{"recover", "--image", "a"}, argument_error("--id is required")},
        ArgumentCase{{"recover", "--id", "x", "--output", "o"},
                     argument_error("--image is required")},
        ArgumentCase{{"recover", "--image", "a", "--id", "x"},
                     argument_error("--output is required")},
        ArgumentCase{{"recover-all", "--image", "a"},
                     argument_error("--output-directory is required")},
        ArgumentCase{{"recover-all", "--output-directory", "d"},
                     argument_error("--image is required")},
        ArgumentCase{{"image", "--volume", "e:", "--physical-drive", "1", "--output", "x"},
                     argument_error("--physical-drive and --volume are mutually exclusive")},
        ArgumentCase{{"image", "--volume", "e"}, argument_error("--output is required")},
        ArgumentCase{{"image", "--output", "x"},
                     argument_error("--physical-drive or --volume is required")},
        ArgumentCase{{"image", "--volume", ":", "--output", "x"},
                     argument_error("invalid --volume: expected a drive letter")},
        ArgumentCase{{"image", "--volume", "", "--output", "x"},
                     argument_error("invalid --volume: expected a drive letter")},
        ArgumentCase{{"image", "--volume", "ef:", "--output", "x"},
                     argument_error("invalid --volume: expected a single ASCII drive letter")},
        ArgumentCase{{"image", "--volume", "1", "--output", "x"},
                     argument_error("invalid --volume: expected a single ASCII drive letter")},
        ArgumentCase{{"image", "--volume", "\xC3\xA9", "--output", "x"},
                     argument_error("invalid --volume: expected a single ASCII drive letter")},
        ArgumentCase{{"image", "--volume"}, argument_error("--volume requires a value")},
        ArgumentCase{{"recover-all", "--image", "a", "--output-directory", "d", "--bogus"},
                     argument_error("unknown argument: --bogus")},
        ArgumentCase{{"frobnicate", "--x"}, argument_error("unknown argument: --x")},
        ArgumentCase{{"frobnicate"}, argument_error("unknown command")},
        ArgumentCase{{"Scan", "--image", "a"}, argument_error("unknown command")},
        ArgumentCase{{"--help"}, argument_error("unknown command")},
        ArgumentCase{{"scan", "--help"}, argument_error("unknown argument: --help")},
        ArgumentCase{{"scan", "--image=a.img"}, argument_error("unknown argument: --image=a.img")},
        ArgumentCase{{"scan", "--imag", "a.img"}, argument_error("unknown argument: --imag")},
        ArgumentCase{{"scan", "a.img"}, argument_error("unknown argument: a.img")},
        ArgumentCase{{"scan", "--", "--image", "a"}, argument_error("unknown argument: --")},
        ArgumentCase{{"scan", "--IMAGE", "a"}, argument_error("unknown argument: --IMAGE")},
        ArgumentCase{{"scan", "--image", "a", "--all-directories=yes"},
                     argument_error("unknown argument: --all-directories=yes")},
        // Control characters in the message are escaped; the usage block is not.
        ArgumentCase{{"scan", "--x\nKESTREL_ERROR=spoofed message"},
                     argument_error("unknown argument: --x\\nKESTREL_ERROR=spoofed message")},
        ArgumentCase{{"scan", "\t\r\x1b[2J\x7f"},
                     argument_error("unknown argument: \\t\\r\\u001b[2J\\u007f")}));

// Parsing facts that no command of this build can show on its own output.
TEST(CommandLineParsing, NextArgumentIsAlwaysTheValue) {
  const std::vector<std::string> arguments = {"scan", "--image", "--id"};
  auto line = parse_command_line(arguments);
  ASSERT_TRUE(line);
  EXPECT_EQ(line->image, "--id");
  EXPECT_FALSE(line->id);
}

TEST(CommandLineParsing, LaterValueReplacesEarlierOne) {
  const std::vector<std::string> arguments = {"image", "--physical-drive", "1", "--output",
                                              "x",     "--physical-drive", "2"};
  auto command = select_command(*parse_command_line(arguments));
  ASSERT_TRUE(command);
  const auto& image = std::get<ImageCommand>(*command);
  EXPECT_EQ(std::get<std::uint32_t>(image.source), 2u);
  EXPECT_TRUE(image.resume);
}

TEST(CommandLineParsing, DriveLettersAreNormalised) {
  for (const char* value : {"e", "E:", "e::"}) {
    auto letter = parse_drive_letter(value);
    ASSERT_TRUE(letter) << value;
    EXPECT_EQ(*letter, 'E');
  }
}

TEST(CommandLineParsing, NumbersAcceptPlusAndFullRange) {
  EXPECT_EQ(parse_u32("+512"), 512u);
  EXPECT_EQ(parse_u32("4294967295"), 4294967295u);
  EXPECT_EQ(parse_u32("0004096"), 4096u);
  const auto too_large = parse_u32("99999999999999999999999");
  ASSERT_FALSE(too_large);
  const ArgumentError refused = ArgumentError::InvalidOptionValue{"--x", too_large.error()};
  EXPECT_EQ(error_line(render_error(refused)),
            argument_error("invalid --x: number too large to fit in target type"));
}

TEST(CommandLineParsing, UnusedOptionsAreAcceptedAndNoResumeIsKept) {
  const std::vector<std::string> arguments = {"image",         "--volume",    "f",       "--output",
                                              "card.img",      "--no-resume", "--image", "ignored",
                                              "--sector-size", "4096"};
  auto command = select_command(*parse_command_line(arguments));
  ASSERT_TRUE(command);
  const auto& image = std::get<ImageCommand>(*command);
  EXPECT_EQ(std::get<char>(image.source), 'F');
  EXPECT_FALSE(image.resume);
  EXPECT_EQ(image.output, "card.img");
}

TEST(CommandLineParsing, NamePrefixIsOptionalForRecoverAll) {
  const std::vector<std::string> with = {"recover-all", "--image",       "a", "--output-directory",
                                         "d",           "--name-prefix", ""};
  auto command = select_command(*parse_command_line(with));
  ASSERT_TRUE(command);
  EXPECT_EQ(std::get<RecoverAllCommand>(*command).name_prefix, "");
  const std::vector<std::string> without = {"recover-all", "--image", "a", "--output-directory",
                                            "d"};
  EXPECT_FALSE(
      std::get<RecoverAllCommand>(*select_command(*parse_command_line(without))).name_prefix);
}

TEST(CommandLineParsing, ScanOptionsReachTheScanningCommandsAndNoOther) {
  // {all_directories, carve} as the command received them; nothing for a command without scan
  // options.
  auto options_of = [](std::vector<std::string> arguments) {
    auto command = select_command(*parse_command_line(arguments));
    EXPECT_TRUE(command);
    return std::visit(
        [](const auto& runnable) -> std::optional<std::pair<bool, bool>> {
          if constexpr (requires { runnable.options; }) {
            return std::pair{runnable.options.all_directories, runnable.options.carve};
          }
          return std::nullopt;
        },
        *command);
  };
  using Flags = std::optional<std::pair<bool, bool>>;
  EXPECT_EQ(options_of({"scan", "--image", "a", "--all-directories"}), Flags({true, false}));
  EXPECT_EQ(options_of({"scan", "--carve", "--image", "a"}), Flags({false, true}));
  EXPECT_EQ(options_of({"scan", "--image", "a"}), Flags({false, false}));
  EXPECT_EQ(options_of({"recover", "--all-directories", "--image", "a", "--id", "i", "--output",
                        "o", "--carve"}),
            Flags({true, true}));
  EXPECT_EQ(options_of({"recover-all", "--image", "a", "--output-directory", "d",
                        "--all-directories", "--all-directories"}),
            Flags({true, false}));
  EXPECT_EQ(options_of({"recover-all", "--carve", "--image", "a", "--output-directory", "d"}),
            Flags({false, true}));
  EXPECT_EQ(options_of({"devices", "--all-directories", "--carve"}),
            std::nullopt);  // accepted and ignored
  EXPECT_EQ(options_of({"image", "--volume", "f", "--output", "x", "--all-directories", "--carve"}),
            std::nullopt);
}

}  // namespace
}  // namespace kestrel::testing
