// Windows path behaviour: extended-length canonical paths, wide names,
// symbolic links, and what other openers may do while the tool holds a file.
#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "os/file_handle.hpp"
#include "os/file_system.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

// The final path name the system reports for an existing path.
std::wstring final_path_name(const std::filesystem::path& path) {
  HANDLE handle =
      ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  EXPECT_NE(handle, INVALID_HANDLE_VALUE);
  wchar_t name[32768];
  const DWORD length = ::GetFinalPathNameByHandleW(handle, name, 32768, FILE_NAME_NORMALIZED);
  ::CloseHandle(handle);
  return std::wstring(name, length);
}

TEST(CanonicalPath, IsTheExtendedLengthFinalPathNameAsReported) {
  TempDir dir;
  ASSERT_TRUE(kestrel::create_directories(dir / "Recovered Files"));
  auto canonical = canonical_path(dir / "Recovered Files");
  ASSERT_TRUE(canonical) << canonical.error().message();
  EXPECT_TRUE(canonical->native().starts_with(LR"(\\?\)")) << path_display(*canonical);
  EXPECT_EQ(canonical->native(), final_path_name(dir / "Recovered Files"));
  EXPECT_EQ(canonical->filename(), "Recovered Files");

  // Any spelling of the same directory resolves to the one form: other
  // separators, relative parts, and letter case (the name on disk wins).
  const std::wstring forward = (dir.path().native() + L"/Recovered Files/./");
  EXPECT_EQ(canonical_path(forward), *canonical);
  EXPECT_EQ(canonical_path(dir / "RECOVERED FILES"), *canonical);
}

TEST(CanonicalPath, JoinsWithFileNamesInTheSameForm) {
  TempDir dir;
  write_file(dir / "card.img", "x");
  auto directory = canonical_path(dir.path());
  auto file = canonical_path(dir / "card.img");
  ASSERT_TRUE(directory && file);
  EXPECT_EQ(*directory / "card.img", *file);
  EXPECT_NE(*directory / "CARD.IMG", *file);  // the file name is compared as typed
}

TEST(ReadMetadata, FollowsSymbolicLinks) {
  TempDir dir;
  write_file(dir / "target.img", "12345");
  const auto link = dir / "link.img";
  if (!::CreateSymbolicLinkW(link.c_str(), (dir / "target.img").c_str(),
                             SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    GTEST_SKIP() << "this account may not create symbolic links (error " << ::GetLastError() << ")";
  }
  if (::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES) {
    // Wine 8 reports success without making the link.
    GTEST_SKIP() << "the system reported a symbolic link it did not create";
  }
  auto metadata = read_metadata(link);
  ASSERT_TRUE(metadata) << metadata.error().message();
  EXPECT_EQ(metadata->length, 5u);
  EXPECT_TRUE(metadata->is_regular);
}

TEST(PathText, WideUnitsAndUnpairedSurrogates) {
  EXPECT_EQ(path_from_text("사진\xF0\x9F\x93\xB7.jpg").native(),
            std::wstring(L"\uC0AC\uC9C4\xD83D\xDCF7.jpg"));
  const std::wstring unpaired = {L'a', static_cast<wchar_t>(0xD800), L'.', L'j', L'p', L'g'};
  EXPECT_EQ(path_display(std::filesystem::path(unpaired)), "a\xEF\xBF\xBD.jpg");
  const std::wstring reversed = {static_cast<wchar_t>(0xDC00), static_cast<wchar_t>(0xD800)};
  EXPECT_EQ(path_display(std::filesystem::path(reversed)), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(FileSharing, OthersMayReadWriteAndDeleteAnOpenImage) {
  TempDir dir;
  write_file(dir / "card.img", "image bytes");
  auto image = FileHandle::open_for_reading(dir / "card.img");
  ASSERT_TRUE(image);
  // Another program asking for every right while sharing everything gets in.
  HANDLE other = ::CreateFileW((dir / "card.img").c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE) << ::GetLastError();
  ::CloseHandle(other);
  EXPECT_TRUE(::DeleteFileW((dir / "card.img").c_str())) << ::GetLastError();
}

TEST(FileSharing, OthersMayReadAndDeleteAnImageBeingWritten) {
  TempDir dir;
  auto image = FileHandle::open_read_write(dir / "card.img");
  ASSERT_TRUE(image);
  HANDLE reader =
      ::CreateFileW((dir / "card.img").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE) << ::GetLastError();
  ::CloseHandle(reader);
  EXPECT_TRUE(::DeleteFileW((dir / "card.img").c_str())) << ::GetLastError();
}

TEST(CreateNew, ExistingFilesAndDirectoriesAreRefused) {
  TempDir dir;
  write_file(dir / "photo.jpg", "kept");
  auto file = FileHandle::create_new(dir / "photo.jpg");
  ASSERT_FALSE(file);
  EXPECT_EQ(file.error().io_failure().os_code, std::optional<int>(ERROR_FILE_EXISTS));
  EXPECT_EQ(file.error().io_kind(), IoErrorKind::AlreadyExists);
  // A name differing only in letter case is the same file on Windows.
  auto other_case = FileHandle::create_new(dir / "PHOTO.JPG");
  ASSERT_FALSE(other_case);
  EXPECT_EQ(other_case.error().io_kind(), IoErrorKind::AlreadyExists);
  EXPECT_EQ(read_file(dir / "photo.jpg"), "kept");

  ASSERT_TRUE(kestrel::create_directories(dir / "folder"));
  EXPECT_FALSE(FileHandle::create_new(dir / "folder"));
}

}  // namespace
}  // namespace kestrel::testing
