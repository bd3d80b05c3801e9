#include <windows.h>

#include <string>

#include "os/file_system.hpp"
#include "os/os_error.hpp"
#include "os/scoped_handle_win32.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/text/wide_text.hpp"

namespace kestrel {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens a file or directory for its attributes and name only. Links are
// followed; directories need the backup-semantics flag to be opened at all.
std::expected<HANDLE, SourceError> open_for_query(const std::filesystem::path& path) {
  HANDLE handle = ::CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::unexpected(last_io_error());
  return handle;
}

FileMetadata metadata_of(DWORD attributes, DWORD size_high, DWORD size_low) {
  const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return FileMetadata{(static_cast<std::uint64_t>(size_high) << 32) | size_low, !directory,
                      directory};
}

bool is_existing_directory(const std::filesystem::path& path) {
  auto metadata = read_metadata(path);
  return metadata && metadata->is_directory;
}

}  // namespace

std::expected<FileMetadata, SourceError> read_metadata(const std::filesystem::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    return std::unexpected(last_io_error());
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return metadata_of(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow);
  }
  // A symbolic link or junction describes itself; its target is what counts.
  KESTREL_TRY_ASSIGN(opened, open_for_query(path));
  const ScopedHandle handle(*opened);
  BY_HANDLE_FILE_INFORMATION information;
  if (!::GetFileInformationByHandle(handle.get(), &information)) {
    return std::unexpected(last_io_error());
  }
  return metadata_of(information.dwFileAttributes, information.nFileSizeHigh,
                     information.nFileSizeLow);
}

std::expected<PathEntryKind, SourceError> path_entry_kind(const std::filesystem::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      return PathEntryKind::Missing;
    return std::unexpected(io_error_from_os_code(static_cast<int>(error)));
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathEntryKind::Other;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathEntryKind::Directory
                                                      : PathEntryKind::Other;
}

std::expected<void, SourceError> create_directory(const std::filesystem::path& path) {
  if (!::CreateDirectoryW(path.c_str(), nullptr)) return std::unexpected(last_io_error());
  return {};
}

std::expected<std::filesystem::path, SourceError> canonical_path(
    const std::filesystem::path& path) {
  KESTREL_TRY_ASSIGN(opened, open_for_query(path));
  const ScopedHandle handle(*opened);
  // The final path name, in the extended-length form the system reports
  // ("\\?\C:\..." or "\\?\UNC\server\share\..."), kept exactly as reported.
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetFinalPathNameByHandleW(handle.get(), name.data(), static_cast<DWORD>(name.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return std::unexpected(last_io_error());
    if (length < name.size()) {
      name.resize(length);
      return std::filesystem::path(name);
    }
    name.resize(length);  // too small: length is the size needed, terminator included
  }
}

std::expected<void, SourceError> create_directories(const std::filesystem::path& path) {
  if (path.empty()) return {};
  if (::CreateDirectoryW(path.c_str(), nullptr)) return {};
  DWORD error = ::GetLastError();
  // Something exists there: fine when it is a directory (a drive root reports
  // access denied rather than "already exists").
  if (error != ERROR_PATH_NOT_FOUND && error != ERROR_FILE_NOT_FOUND) {
    if (is_existing_directory(path)) return {};
    return std::unexpected(io_error_from_os_code(static_cast<int>(error)));
  }
  const std::filesystem::path parent = path.parent_path();
  if (parent.empty() || parent == path)
    return std::unexpected(io_error_from_os_code(static_cast<int>(error)));
  if (auto made = kestrel::create_directories(parent); !made) return made;
  if (::CreateDirectoryW(path.c_str(), nullptr)) return {};
  error = ::GetLastError();
  if (is_existing_directory(path)) return {};
  return std::unexpected(io_error_from_os_code(static_cast<int>(error)));
}

std::expected<std::filesystem::path, SourceError> current_directory() {
  std::wstring directory;
  for (;;) {
    const DWORD capacity = static_cast<DWORD>(directory.size());
    const DWORD length =
        ::GetCurrentDirectoryW(capacity, capacity == 0 ? nullptr : directory.data());
    if (length == 0) return std::unexpected(last_io_error());
    if (length < capacity) {
      directory.resize(length);
      return std::filesystem::path(directory);
    }
    directory.resize(length);  // length is the size needed, terminator included
  }
}

std::expected<std::filesystem::path, SourceError> absolute_path(const std::filesystem::path& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return std::unexpected(last_io_error());
    if (length < full.size()) {
      full.resize(length);
      return std::filesystem::path(full);
    }
    full.resize(length);  // length is the size needed, terminator included
  }
}

std::expected<void, SourceError> remove_file(const std::filesystem::path& path) {
  if (!::DeleteFileW(path.c_str())) return std::unexpected(last_io_error());
  return {};
}

std::filesystem::path path_from_text(std::string_view text) {
  return std::filesystem::path(wide_from_utf8(text));
}

std::string path_display(const std::filesystem::path& path) {
  return utf8_from_wide_lossy(path.native());
}

}  // namespace kestrel
