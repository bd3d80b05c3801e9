// Links in the output directory are never followed when folders are made.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/output_folders.hpp"
#include "cli/render_error.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

namespace fs = std::filesystem;

TEST(OutputFoldersPosix, LinksAreNeverFollowed) {
  TempDir root;
  TempDir elsewhere;
  fs::create_directory_symlink(elsewhere.path(), root / "DCIM");   // a link to a folder outside
  fs::create_symlink(root / "missing", root / "Trip");             // a dangling link
  fs::create_directory_symlink(root / "inside", root / "Inside");  // even one that stays inside
  fs::create_directory(root / "inside");
  OutputFolders folders(root.path());
  for (const char* name : {"DCIM", "Trip", "Inside"}) {
    auto folder = folders.folder_for({name, "sub"});
    ASSERT_TRUE(folder) << render_error(folder.error());
    EXPECT_EQ(*folder, root / (std::string(name) + "-recovered-1") / "sub");
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(*folder)));
  }
  EXPECT_TRUE(fs::is_empty(elsewhere.path()));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root / "missing")));
  EXPECT_TRUE(fs::is_empty(root / "inside"));
}

}  // namespace
}  // namespace kestrel::testing
