#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "os/file_system.hpp"
#include "os/os_error.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/text/utf8.hpp"

namespace kestrel {

std::expected<FileMetadata, SourceError> read_metadata(const std::filesystem::path& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return std::unexpected(last_io_error());
  return FileMetadata{static_cast<std::uint64_t>(st.st_size), S_ISREG(st.st_mode),
                      S_ISDIR(st.st_mode)};
}

std::expected<PathEntryKind, SourceError> path_entry_kind(const std::filesystem::path& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return PathEntryKind::Missing;
    return std::unexpected(last_io_error());
  }
  return S_ISDIR(st.st_mode) ? PathEntryKind::Directory : PathEntryKind::Other;
}

std::expected<void, SourceError> create_directory(const std::filesystem::path& path) {
  if (::mkdir(path.c_str(), 0777) != 0) return std::unexpected(last_io_error());
  return {};
}

std::expected<std::filesystem::path, SourceError> canonical_path(
    const std::filesystem::path& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  if (!resolved) return std::unexpected(last_io_error());
  return std::filesystem::path(resolved.get());
}

std::expected<void, SourceError> create_directories(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) return std::unexpected(io_error_from_os_code(ec.value()));
  return {};
}

std::expected<std::filesystem::path, SourceError> current_directory() {
  std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
  if (!cwd) return std::unexpected(last_io_error());
  return std::filesystem::path(cwd.get());
}

std::expected<std::filesystem::path, SourceError> absolute_path(const std::filesystem::path& path) {
  if (path.is_absolute()) return path;
  KESTREL_TRY_ASSIGN(current, current_directory());
  return *current / path;
}

std::expected<void, SourceError> remove_file(const std::filesystem::path& path) {
  if (::unlink(path.c_str()) != 0) return std::unexpected(last_io_error());
  return {};
}

std::filesystem::path path_from_text(std::string_view text) {
  return std::filesystem::path(std::string(text));
}

std::string path_display(const std::filesystem::path& path) {
  return decode_utf8_lossy(std::string_view(path.native()));
}

}  // namespace kestrel
