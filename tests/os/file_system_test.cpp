// Paths and file-system operations on the running platform; the same
// expectations hold on Linux and on Windows.
#include "os/file_system.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

TEST(ReadMetadata, FilesDirectoriesAndMissingPaths) {
  TempDir dir;
  write_file(dir / "card.img", std::string(1536, 'x'));
  auto file = read_metadata(dir / "card.img");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->length, 1536u);
  EXPECT_TRUE(file->is_regular);
  EXPECT_FALSE(file->is_directory);

  auto directory = read_metadata(dir.path());
  ASSERT_TRUE(directory);
  EXPECT_TRUE(directory->is_directory);
  EXPECT_FALSE(directory->is_regular);

  auto missing = read_metadata(dir / "missing" / "card.img");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().io_kind(), IoErrorKind::NotFound);
}

TEST(CanonicalPath, ResolvesRelativePartsToOneForm) {
  TempDir dir;
  ASSERT_TRUE(kestrel::create_directories(dir / "a" / "b"));
  write_file(dir / "a" / "card.img", "x");
  auto direct = canonical_path(dir / "a" / "card.img");
  auto roundabout = canonical_path(dir / "a" / "b" / ".." / "card.img");
  ASSERT_TRUE(direct && roundabout);
  EXPECT_EQ(*direct, *roundabout);
  EXPECT_EQ(direct->filename(), "card.img");

  auto missing = canonical_path(dir / "a" / "missing.img");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().io_kind(), IoErrorKind::NotFound);
}

TEST(CreateDirectories, MakesParentsAndAcceptsExistingDirectories) {
  TempDir dir;
  const auto deep = dir / "out" / "nested" / "deeper";
  ASSERT_TRUE(kestrel::create_directories(deep));
  EXPECT_TRUE(std::filesystem::is_directory(deep));
  EXPECT_TRUE(kestrel::create_directories(deep));
  EXPECT_TRUE(kestrel::create_directories(dir.path()));
  EXPECT_TRUE(kestrel::create_directories(deep.root_path()));

  write_file(dir / "plain-file", "x");
  EXPECT_FALSE(kestrel::create_directories(dir / "plain-file"));
  EXPECT_FALSE(kestrel::create_directories(dir / "plain-file" / "sub"));
  EXPECT_EQ(read_file(dir / "plain-file"), "x");
}

TEST(RemoveFile, DeletesFilesAndReportsMissingOnes) {
  TempDir dir;
  write_file(dir / "card.img.partial.json", "{}");
  ASSERT_TRUE(remove_file(dir / "card.img.partial.json"));
  EXPECT_FALSE(std::filesystem::exists(dir / "card.img.partial.json"));
  auto again = remove_file(dir / "card.img.partial.json");
  ASSERT_FALSE(again);
  EXPECT_EQ(again.error().io_kind(), IoErrorKind::NotFound);
}

TEST(CurrentDirectory, IsTheProcessDirectory) {
  auto current = current_directory();
  ASSERT_TRUE(current);
  EXPECT_EQ(*current, std::filesystem::current_path());
}

TEST(PathText, NonAsciiNamesReachTheFileSystemAsUnicode) {
  TempDir dir;
  const std::string name = "사진 é\xF0\x9F\x93\xB7.jpg";
  const auto path = dir.path() / path_from_text(name);
  write_file(path, "jpeg");
  ASSERT_TRUE(read_metadata(path));
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(path_display(entry.path().filename()));
  }
  EXPECT_EQ(names, std::vector<std::string>{name});
  EXPECT_EQ(path_display(path_from_text(name)), name);
}

}  // namespace
}  // namespace kestrel::testing
