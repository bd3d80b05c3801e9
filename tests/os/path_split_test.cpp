// Path roots and final components by POSIX and by Windows rules. The rules
// are text logic, so both sets run on every system.
#include "os/path_split.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace kestrel::testing {
namespace {

struct SplitCase {
  std::string path;
  std::string root;
  std::string parent;
  std::optional<std::string> file_name;
};

void expect_splits(PathRules rules, const std::vector<SplitCase>& cases) {
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.path);
    const PathRoot root = path_root(std::string_view(c.path), rules);
    EXPECT_EQ(c.path.substr(0, root.length), c.root);
    const auto split = split_final_component(std::string_view(c.path), rules);
    EXPECT_EQ(split.parent, c.parent);
    EXPECT_EQ(split.file_name, c.file_name);
  }
}

TEST(PathSplit, PosixRules) {
  expect_splits(PathRules::Posix, {
                                      {"out.bin", "", "", "out.bin"},
                                      {"dir/out.bin", "", "dir", "out.bin"},
                                      {"/abs/dir/out.bin", "/", "/abs/dir", "out.bin"},
                                      {"dir/out/", "", "dir", "out"},
                                      {"dir//out", "", "dir", "out"},
                                      {"dir/./out", "", "dir", "out"},
                                      {"./out", "", ".", "out"},
                                      {"dir/.", "", "", "dir"},
                                      {"dir/..", "", "dir", std::nullopt},
                                      {"..", "", "", std::nullopt},
                                      {".", "", "", std::nullopt},
                                      {"/", "/", "", std::nullopt},
                                      {"/x", "/", "/", "x"},
                                      {"//x/y", "//", "//x", "y"},
                                      {"a\\b", "", "", "a\\b"},  // a backslash is part of a name
                                      {"C:/x", "", "C:", "x"},
                                  });
}

TEST(PathSplit, WindowsDrivesAndRelativePaths) {
  expect_splits(PathRules::Windows, {
                                        {"out.bin", "", "", "out.bin"},
                                        {"dir\\out.bin", "", "dir", "out.bin"},
                                        {"dir/sub\\out.bin", "", "dir\\sub", "out.bin"},
                                        {"C:\\dir\\out.bin", "C:\\", "C:\\dir", "out.bin"},
                                        {"c:/dir/out.bin", "c:/", "c:/dir", "out.bin"},
                                        {"C:\\out.bin", "C:\\", "C:\\", "out.bin"},
                                        {"C:out.bin", "C:", "C:", "out.bin"},
                                        {"C:", "C:", "", std::nullopt},
                                        {"C:\\", "C:\\", "", std::nullopt},
                                        {"C:\\dir\\..", "C:\\", "C:\\dir", std::nullopt},
                                        {"\\dir\\out.bin", "\\", "\\dir", "out.bin"},
                                        {".\\out", "", ".", "out"},
                                        {"dir\\\\out\\", "", "dir", "out"},
                                    });
}

TEST(PathSplit, WindowsSharesDevicesAndExtendedLengthPaths) {
  expect_splits(PathRules::Windows,
                {
                    {"\\\\server\\share\\dir\\out.bin", "\\\\server\\share\\",
                     "\\\\server\\share\\dir", "out.bin"},
                    {"//server/share/out.bin", "//server/share/", "//server/share/", "out.bin"},
                    {"\\\\server\\share", "\\\\server\\share", "", std::nullopt},
                    {"\\\\?\\C:\\Users\\me\\Recovered\\photo.jpg", "\\\\?\\C:\\",
                     "\\\\?\\C:\\Users\\me\\Recovered", "photo.jpg"},
                    {"\\\\?\\C:\\photo.jpg", "\\\\?\\C:\\", "\\\\?\\C:\\", "photo.jpg"},
                    {"\\\\?\\C:\\", "\\\\?\\C:\\", "", std::nullopt},
                    // Extended-length names are literal: a slash is part of the name.
                    {"\\\\?\\C:\\dir\\a/b", "\\\\?\\C:\\", "\\\\?\\C:\\dir", "a/b"},
                    {"\\\\?\\UNC\\server\\share\\dir\\out.bin", "\\\\?\\UNC\\server\\share\\",
                     "\\\\?\\UNC\\server\\share\\dir", "out.bin"},
                    {"\\\\?\\Volume{0b8c7e64-1d2f-4c3a-9e51-2f1a7c3d9b10}\\dir\\out.bin",
                     "\\\\?\\Volume{0b8c7e64-1d2f-4c3a-9e51-2f1a7c3d9b10}\\",
                     "\\\\?\\Volume{0b8c7e64-1d2f-4c3a-9e51-2f1a7c3d9b10}\\dir", "out.bin"},
                    {"\\\\.\\PhysicalDrive1", "\\\\.\\PhysicalDrive1", "", std::nullopt},
                    {"\\\\.\\C:\\dir\\out.bin", "\\\\.\\C:\\", "\\\\.\\C:\\dir", "out.bin"},
                });
}

TEST(PathSplit, WideTextFollowsTheSameRules) {
  const std::wstring path = L"\\\\?\\C:\\사진\\보고서.pdf";
  const auto split = split_final_component(std::wstring_view(path), PathRules::Windows);
  EXPECT_EQ(split.parent, L"\\\\?\\C:\\사진");
  EXPECT_EQ(split.file_name, L"보고서.pdf");
  EXPECT_EQ(path_root(std::wstring_view(path), PathRules::Windows).length, 7u);
  EXPECT_TRUE(path_root(std::wstring_view(path), PathRules::Windows).extended_length);
}

}  // namespace
}  // namespace kestrel::testing
