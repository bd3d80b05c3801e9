// The destination check with Windows paths, against a recorded platform: a
// lettered output in any spelling, a folder where the source's volume is
// mounted, volumes named by GUID, and network shares.
#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli/image_command.hpp"
#include "cli/render_error.hpp"
#include "os/file_system.hpp"
#include "tests/support/simulated-platform/simulated_platform.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

const std::string kOnSource = "image destination is on the source physical disk";

// The outcome as one text: empty when the destination passes.
std::string outcome(SimulatedPlatform& platform, std::uint32_t source, const std::string& output) {
  auto checked = check_destination_disk(platform, source, output);
  return checked ? "" : render_error(checked.error());
}

// Runs with the process's current directory elsewhere, and puts it back.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::filesystem::path& directory)
      : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(directory);
  }
  ~CurrentDirectory() { std::filesystem::current_path(saved_); }
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;

 private:
  std::filesystem::path saved_;
};

TEST(WindowsDestinationDisk, EverySpellingOfTheSourceVolumeIsRefused) {
  TempDir dir;
  const std::string base = path_display(dir.path());  // "C:\...\kestrel-test-..."
  SimulatedPlatform platform;
  record_drive_letter_of(platform, dir.path(), 2);  // the source card holds this letter

  for (const std::string& output :
       {base + "\\card.img", "\\\\?\\" + base + "\\card.img", "\\\\.\\" + base + "\\card.img",
        base + "/not/yet/there/card.img"}) {
    EXPECT_EQ(outcome(platform, 2, output), kOnSource) << output;
  }
  {
    const CurrentDirectory inside(dir.path());
    EXPECT_EQ(outcome(platform, 2, "card.img"), kOnSource);
    EXPECT_EQ(outcome(platform, 2, "sub\\..\\card.img"), kOnSource);
  }
  EXPECT_EQ(outcome(platform, 7, "\\\\?\\" + base + "\\card.img"), "");
}

TEST(WindowsDestinationDisk, PlainLetterPathsAskTheLetterFirst) {
  TempDir dir;
  const std::string base = path_display(dir.path());
  SimulatedPlatform platform;
  record_drive_letter_of(platform, dir.path(), 5);
  EXPECT_EQ(outcome(platform, 2, base + "\\card.img"), "");
  const std::vector<std::string> opens = platform.log_of("open");
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_TRUE(opens[0].starts_with("open \\\\.\\" + base.substr(0, 1) + ": query")) << opens[0];
  EXPECT_EQ(platform.log_of("drives-holding"), std::vector<std::string>{"drives-holding " + base});

  // A letter without a volume fails with the letter's own error.
  EXPECT_EQ(outcome(platform, 2, "Q:\\card.img"),
            "source I/O error (NotFound): The system cannot find the file specified. (os error 2)");
}

TEST(WindowsDestinationDisk, AFolderWhereTheSourceIsMountedIsRefused) {
  TempDir dir;
  std::filesystem::create_directories(dir / "mnt" / "card" / "DCIM");
  std::filesystem::create_directories(dir / "safe");
  const std::string base = path_display(dir.path());
  SimulatedPlatform platform;
  record_drive_letter_of(platform, dir.path(), 5);
  // What GetVolumePathNameW finds: the card's volume is mounted at mnt\card.
  platform.drives_holding[base + "\\mnt\\card"] = {2};

  EXPECT_EQ(outcome(platform, 2, base + "\\mnt\\card\\card.img"), kOnSource);
  EXPECT_EQ(outcome(platform, 2, base + "\\mnt\\card\\DCIM\\card.img"), kOnSource);
  EXPECT_EQ(outcome(platform, 2, "\\\\?\\" + base + "\\mnt\\card\\new\\dirs\\card.img"), kOnSource);
  EXPECT_EQ(outcome(platform, 2, base + "\\safe\\card.img"), "");
  EXPECT_EQ(outcome(platform, 2, base + "\\mnt\\cardigan.img"), "");
}

TEST(WindowsDestinationDisk, VolumeNamesAndSharesAreJudgedByTheDisksHoldingThem) {
  SimulatedPlatform platform;
  const std::string volume = "\\\\?\\Volume{0b8c7e64-1d2f-4c3a-9e51-2f1a7c3d9b10}";
  platform.drives_holding[volume + "\\"] = {2};
  EXPECT_EQ(outcome(platform, 2, volume + "\\images\\card.img"), kOnSource);
  EXPECT_EQ(outcome(platform, 3, volume + "\\images\\card.img"), "");
  // A share is on no disk of this machine.
  EXPECT_EQ(outcome(platform, 2, "\\\\server\\share\\images\\card.img"), "");
  EXPECT_EQ(outcome(platform, 2, "\\\\?\\UNC\\server\\share\\card.img"), "");
  EXPECT_TRUE(platform.log_of("open").empty());  // no letter was asked about
}

}  // namespace
}  // namespace kestrel::testing
