// Recreating candidates' folders below recover-all's output directory: names
// cleaned like file names, existing folders used, anything else in the way
// given a numbered name, and nothing ever made outside the directory.
#include "cli/output_folders.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/render_error.hpp"
#include "os/file_system.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

namespace fs = std::filesystem;

// The folder chosen for `path`, relative to the output directory, with "/" between names.
std::string chosen(OutputFolders& folders, const TempDir& root, const FolderPath& path) {
  auto folder = folders.folder_for(path);
  EXPECT_TRUE(folder) << render_error(folder.error());
  if (!folder) return "";
  EXPECT_TRUE(fs::is_directory(*folder));
  std::string text = path_display(fs::relative(*folder, root.path()));
  std::ranges::replace(text, '\\', '/');
  return text;
}

TEST(OutputFolders, NamesAreCleanedAndNeverClimbOut) {
  TempDir root;
  OutputFolders folders(root.path());
  const std::vector<std::pair<FolderPath, std::string>> cases = {
      {{}, "."},
      {{"DCIM", "100CANON"}, "DCIM/100CANON"},
      {{"a/b", "c\\d", "e:f"}, "a_b/c_d/e_f"},
      {{"..", ".", "   ", ""},
       "recovered-folder/recovered-folder/recovered-folder/recovered-folder"},
      {{"회의록 2026"}, "회의록 2026"},
      {{std::string(300, 'd'), "x"}, std::string(255, 'd') + "/x"},
  };
  for (const auto& [path, expected] : cases) EXPECT_EQ(chosen(folders, root, path), expected);
}

TEST(OutputFolders, ExistingFoldersAreUsedAndAnythingElseGetsANumberedName) {
  TempDir root;
  fs::create_directories(root / "DCIM");
  write_file(root / "DCIM" / "keep.jpg", "mine");
  write_file(root / "Trip", "a file where a folder should go");
  write_file(root / "Trip-recovered-1", "and another");
  OutputFolders folders(root.path());
  EXPECT_EQ(chosen(folders, root, {"DCIM", "100CANON"}), "DCIM/100CANON");
  EXPECT_EQ(chosen(folders, root, {"Trip", "Day 1"}), "Trip-recovered-2/Day 1");
  // Later candidates of the same folder land in the same place.
  EXPECT_EQ(chosen(folders, root, {"Trip"}), "Trip-recovered-2");
  // A numbered name is cut to what the destination holds too.
  write_file(root / std::string(255, 'f'), "in the way");
  EXPECT_EQ(chosen(folders, root, {std::string(300, 'f')}), std::string(243, 'f') + "-recovered-1");
  EXPECT_EQ(read_file(root / "DCIM" / "keep.jpg"), "mine");
  EXPECT_EQ(read_file(root / "Trip"), "a file where a folder should go");
}

TEST(OutputFolders, AFolderThatCannotBeMadeFailsWithItsPath) {
  TempDir root;
  OutputFolders folders(root.path() / "missing parent");
  auto folder = folders.folder_for({"DCIM"});
  ASSERT_FALSE(folder);
  const std::string message = render_error(folder.error());
  EXPECT_TRUE(message.starts_with("cannot create output folder ")) << message;
  EXPECT_NE(message.find("DCIM: "), std::string::npos) << message;
}

}  // namespace
}  // namespace kestrel::testing
