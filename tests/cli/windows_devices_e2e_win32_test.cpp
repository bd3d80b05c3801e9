// The shipped executable on the kernel32 backend, against the devices Wine
// emulates (one disk 0 holding the system's C:, a Z: that may not be
// opened): the devices document, and image refusing the system disk, a
// missing drive, and a destination on the source disk in any spelling. On
// real Windows the machine's own disks answer, so these skip there.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "os/file_system.hpp"
#include "os/os_error.hpp"
#include "tests/support/run_cli.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/wine_detection.hpp"

namespace kestrel::testing {
namespace {

class WineMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!running_under_wine())
      GTEST_SKIP() << "these expectations describe Wine's emulated devices";
  }

  CliRun run(const std::vector<std::string>& arguments) const {
    CliOptions options;
    options.working_directory = dir_.path();
    return run_cli(arguments, options);
  }

  void expect_refusal(const std::vector<std::string>& arguments, const std::string& message) const {
    SCOPED_TRACE(arguments.back());
    const CliRun result = run(arguments);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "KESTREL_ERROR=" + message + "\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
  }

  TempDir dir_;  // on C:, disk 0
};

TEST_F(WineMachine, DevicesListsNothingAndWarnsForEveryVolume) {
  const CliRun result = run({"devices"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.err, "");
  // What Wine answers for Z: (the host's root directory) depends on how the host is
  // mounted; either way it is a warning, never an entry.
  const std::string document_start =
      "{\n"
      "  \"devices\": [],\n"
      "  \"warnings\": [\n"
      "    \"C: 검사 제외 · system disk is blocked\",\n";
  const std::string document_end = "\"\n  ]\n}\n";
  EXPECT_TRUE(
      result.out == document_start + "    \"Z: 검사 제외 · permission denied while reading source" +
                        document_end ||
      result.out == document_start + "    \"Z: 검사 제외 · system disk is blocked" + document_end)
      << result.out;
}

TEST_F(WineMachine, ImageRefusesADestinationOnTheSourceDiskInEverySpelling) {
  const std::string base = path_display(dir_.path());
  const std::string on_source = "image destination is on the source physical disk";
  for (const std::string& output :
       {std::string("card.img"), base + "\\card.img", "\\\\?\\" + base + "\\card.img",
        "\\\\.\\" + base + "\\card.img", base + "/new/folder/card.img"}) {
    expect_refusal({"image", "--physical-drive", "0", "--output", output}, on_source);
  }
}

TEST_F(WineMachine, ImageRefusesTheSystemVolumeAndAMissingDrive) {
  expect_refusal({"image", "--volume", "c", "--output", "card.img"}, "system disk is blocked");
  expect_refusal({"image", "--physical-drive", "7", "--output", "card.img"},
                 "source I/O error (NotFound): " + os_error_text(2));
}

}  // namespace
}  // namespace kestrel::testing
