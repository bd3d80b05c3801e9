// The image command's destination checks against a recorded platform.
#include "cli/image_command.hpp"

#include <gtest/gtest.h>

#include "cli/render_error.hpp"
#include "tests/support/simulated-platform/simulated_platform.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

TEST(CheckDestinationDisk, RefusesEveryPathOnTheSourceDisk) {
  TempDir dir;
  std::filesystem::create_directories(dir / "card" / "images");
  std::filesystem::create_directories(dir / "safe");
  SimulatedPlatform platform;
  record_drive_letter_of(platform, dir.path(), 5);  // Windows: the letter is on neither disk
  platform.drives_holding[(dir / "card").string()] = {9, 2};  // a mapping over drive 2
  platform.drives_holding[(dir / "safe").string()] = {0};

  struct Case {
    std::filesystem::path output;
    bool refused;
  };
  const std::vector<Case> cases = {
      {dir / "card" / "x.img", true},
      {dir / "card" / "images" / "x.img", true},
      {dir / "card" / "not" / "yet" / "there" / "x.img", true},  // nearest existing directory
      {dir / "safe" / "x.img", false},
      {dir / "elsewhere.img", false},  // on no disk the platform can name
  };
  for (const auto& c : cases) {
    auto checked = check_destination_disk(platform, 2, c.output.string());
    if (c.refused) {
      ASSERT_FALSE(checked) << c.output;
      EXPECT_EQ(render_error(checked.error()), "image destination is on the source physical disk");
    } else {
      EXPECT_TRUE(checked) << c.output << ": " << render_error(checked.error());
    }
  }
  EXPECT_TRUE(check_destination_disk(platform, 0, (dir / "card" / "x.img").string()));

  platform.drives_holding_error = win32::kAccessDenied;
  auto failed = check_destination_disk(platform, 2, (dir / "safe" / "x.img").string());
  ASSERT_FALSE(failed);
  EXPECT_EQ(render_error(failed.error()), "Access is denied. (os error 5)");
}

TEST(CheckDestinationSpace, RequiresWhatIsStillToBeCopied) {
  TempDir dir;
  SimulatedPlatform platform;
  const std::string output = (dir / "card.img").string();

  platform.free_space = 4999;
  auto space = check_destination_space(platform, 5000, output);
  ASSERT_FALSE(space);
  EXPECT_EQ(render_error(space.error()),
            "insufficient destination space: available=4999 required=5000");
  platform.free_space = 5000;
  EXPECT_EQ(check_destination_space(platform, 5000, output), 0u);
  EXPECT_EQ(platform.log_of("available-space").back(), "available-space " + dir.path().string());

  write_file(dir / "card.img", std::string(1000, 'x'));
  platform.free_space = 3999;
  space = check_destination_space(platform, 5000, output);
  ASSERT_FALSE(space);
  EXPECT_EQ(render_error(space.error()),
            "insufficient destination space: available=3999 required=4000");
  platform.free_space = 4000;
  EXPECT_EQ(check_destination_space(platform, 5000, output), 1000u);
  platform.free_space = 0;
  EXPECT_EQ(check_destination_space(platform, 999, output), 1000u);  // nothing left to copy

  // A bare file name is on the current directory's volume.
  EXPECT_TRUE(check_destination_space(platform, 0, "card.img"));
  EXPECT_EQ(platform.log_of("available-space").back(), "available-space .");

  platform.free_space_error = win32::kNotReady;
  space = check_destination_space(platform, 5000, output);
  ASSERT_FALSE(space);
  EXPECT_EQ(render_error(space.error()), "The device is not ready. (os error 21)");
}

}  // namespace
}  // namespace kestrel::testing
