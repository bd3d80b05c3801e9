// recover-all writes into the directory's extended-length form, where Windows
// takes names literally: a candidate named like a device or ending in a dot
// or a space becomes a file of exactly that name, not the device and not a
// shortened name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "cli/output_paths.hpp"
#include "os/file_handle.hpp"
#include "os/file_system.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

TEST(ExtendedLengthOutputNames, ReservedNamesAndTrailingDotsAreFilesOfTheirOwn) {
  TempDir dir;
  const std::filesystem::path resolved = canonical_path(dir.path()).value();
  ASSERT_TRUE(path_display(resolved).starts_with("\\\\?\\"));
  const std::set<std::string> names = {"NUL", "con.txt", "trail.", "space ", "AUX.log"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    auto chosen = choose_output_path(resolved, name);
    ASSERT_TRUE(chosen);
    auto file = FileHandle::create_new(*chosen);
    ASSERT_TRUE(file) << file.error().message();
    EXPECT_EQ(file->is_regular_file(), true);
    const std::string content = "recovered " + name;
    ASSERT_TRUE(file->write_all(
        std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size())));
  }
  std::set<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(resolved)) {
    found.insert(path_display(entry.path().filename()));
  }
  EXPECT_EQ(found, names);
  // A second candidate of the same name gets a numbered name beside it.
  auto again = choose_output_path(resolved, "NUL");
  ASSERT_TRUE(again);
  EXPECT_EQ(path_display(again->filename()), "NUL-recovered-1");
}

}  // namespace
}  // namespace kestrel::testing
