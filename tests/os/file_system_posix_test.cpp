// Linux path behaviour: names are bytes, links are followed.
#include <gtest/gtest.h>

#include <filesystem>

#include "os/file_system.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

TEST(ReadMetadata, FollowsSymbolicLinks) {
  TempDir dir;
  write_file(dir / "target.img", "12345");
  std::filesystem::create_symlink(dir / "target.img", dir / "link.img");
  auto metadata = read_metadata(dir / "link.img");
  ASSERT_TRUE(metadata) << metadata.error().message();
  EXPECT_EQ(metadata->length, 5u);
  EXPECT_TRUE(metadata->is_regular);
}

TEST(CanonicalPath, IsAbsoluteWithLinksResolved) {
  TempDir dir;
  ASSERT_TRUE(kestrel::create_directories(dir / "real"));
  write_file(dir / "real" / "card.img", "x");
  std::filesystem::create_directory_symlink(dir / "real", dir / "linked");
  auto through_link = canonical_path(dir / "linked" / "card.img");
  auto direct = canonical_path(dir / "real" / "card.img");
  ASSERT_TRUE(through_link && direct);
  EXPECT_EQ(*through_link, *direct);
  EXPECT_EQ(through_link->native().front(), '/');
}

TEST(PathText, NamesThatAreNotUtf8StayBytesAndDisplayWithReplacement) {
  const auto path = path_from_text("photo\xFF.jpg");
  EXPECT_EQ(path.native(), "photo\xFF.jpg");
  EXPECT_EQ(path_display(path), "photo\xEF\xBF\xBD.jpg");
}

}  // namespace
}  // namespace kestrel::testing
