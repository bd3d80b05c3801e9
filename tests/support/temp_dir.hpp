#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace kestrel::testing {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Whole-file helpers for tests.
std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, std::string_view bytes);

// std::fopen for a path of any spelling (a wide path on Windows).
std::FILE* open_c_stream(const std::filesystem::path& path, const char* mode);

}  // namespace kestrel::testing
