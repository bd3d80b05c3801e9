#include <windows.h>

#include <algorithm>
#include <utility>

#include "os/file_handle.hpp"
#include "os/os_error.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// Every opener may read, write and delete alongside us, as on POSIX systems:
// an image being inspected can still be copied or removed by the user, and the
// file being written can be watched growing.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The largest piece one ReadFile or WriteFile call is given.
constexpr std::size_t kMaxPiece = 1u << 30;

// The lock of lock_exclusive: one byte far beyond any real data, so it keeps
// out other lockers only (like an advisory lock) and never blocks anyone's
// reads or writes of the file's contents, which a Windows lock on the data
// itself would.
constexpr std::uint64_t kLockByteOffset = 0x7FFF'FFFF'FFFF'FFFEull;

std::expected<FileHandle::Native, SourceError> open_native(const std::filesystem::path& path,
                                                           DWORD access, DWORD disposition) {
  HANDLE handle = ::CreateFileW(path.c_str(), access, kShareAll, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::unexpected(last_io_error());
  return handle;
}

SourceError invalid_offset() { return io_error_from_os_code(ERROR_INVALID_PARAMETER); }

}  // namespace

std::expected<FileHandle, SourceError> FileHandle::open_for_reading(
    const std::filesystem::path& path) {
  KESTREL_TRY_ASSIGN(handle, open_native(path, GENERIC_READ, OPEN_EXISTING));
  return FileHandle(*handle);
}

std::expected<FileHandle, SourceError> FileHandle::create_new(const std::filesystem::path& path) {
  // CREATE_NEW fails with ERROR_FILE_EXISTS (80) when anything is at the path.
  KESTREL_TRY_ASSIGN(handle, open_native(path, GENERIC_WRITE, CREATE_NEW));
  return FileHandle(*handle);
}

std::expected<FileHandle, SourceError> FileHandle::open_read_write(
    const std::filesystem::path& path) {
  // OPEN_ALWAYS creates a missing file and never truncates an existing one.
  KESTREL_TRY_ASSIGN(handle, open_native(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS));
  return FileHandle(*handle);
}

std::expected<FileHandle, SourceError> FileHandle::create_or_truncate(
    const std::filesystem::path& path) {
  KESTREL_TRY_ASSIGN(handle, open_native(path, GENERIC_WRITE, CREATE_ALWAYS));
  return FileHandle(*handle);
}

// GetTempFileNameW makes an empty file of a new name; it is opened again to be
// deleted on close, so nothing stays behind however the run ends.
std::expected<FileHandle, SourceError> FileHandle::create_temporary() {
  wchar_t directory[MAX_PATH + 1] = {};
  if (::GetTempPathW(MAX_PATH + 1, directory) == 0) return std::unexpected(last_io_error());
  wchar_t name[MAX_PATH + 1] = {};
  if (::GetTempFileNameW(directory, L"kst", 0, name) == 0) return std::unexpected(last_io_error());
  HANDLE handle = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                TRUNCATE_EXISTING,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SourceError error = last_io_error();
    ::DeleteFileW(name);
    return std::unexpected(error);
  }
  return FileHandle(handle);
}

FileHandle::FileHandle(FileHandle&& other) noexcept
    : native_(std::exchange(other.native_, nullptr)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    reset();
    native_ = std::exchange(other.native_, nullptr);
  }
  return *this;
}

FileHandle::~FileHandle() { reset(); }

void FileHandle::reset() noexcept {
  if (native_ != nullptr) {
    ::CloseHandle(native_);
    native_ = nullptr;
  }
}

bool FileHandle::is_open() const { return native_ != nullptr; }

std::expected<std::size_t, SourceError> FileHandle::read_at(std::uint64_t offset,
                                                            std::span<std::uint8_t> buffer) {
  KESTREL_TRY(seek(offset));
  const DWORD wanted = static_cast<DWORD>(std::min(buffer.size(), kMaxPiece));
  DWORD got = 0;
  if (!::ReadFile(native_, buffer.data(), wanted, &got, nullptr)) {
    return std::unexpected(last_io_error());
  }
  return static_cast<std::size_t>(got);
}

std::expected<std::size_t, SourceError> FileHandle::read_fully(std::span<std::uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const DWORD wanted = static_cast<DWORD>(std::min(buffer.size() - done, kMaxPiece));
    DWORD got = 0;
    if (!::ReadFile(native_, buffer.data() + done, wanted, &got, nullptr)) {
      return std::unexpected(last_io_error());
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

std::expected<void, SourceError> FileHandle::write_all(std::span<const std::uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const DWORD wanted = static_cast<DWORD>(std::min(buffer.size() - done, kMaxPiece));
    DWORD written = 0;
    if (!::WriteFile(native_, buffer.data() + done, wanted, &written, nullptr)) {
      return std::unexpected(last_io_error());
    }
    if (written == 0) {
      return std::unexpected(
          SourceError::io("failed to write whole buffer", IoErrorKind::WriteZero));
    }
    done += written;
  }
  return {};
}

std::expected<void, SourceError> FileHandle::seek(std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) return std::unexpected(invalid_offset());
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(native_, distance, nullptr, FILE_BEGIN)) {
    return std::unexpected(last_io_error());
  }
  return {};
}

std::expected<std::uint64_t, SourceError> FileHandle::length() const {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(native_, &size)) return std::unexpected(last_io_error());
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::expected<bool, SourceError> FileHandle::is_regular_file() const {
  const DWORD type = ::GetFileType(native_);
  if (type == FILE_TYPE_UNKNOWN && ::GetLastError() != NO_ERROR) {
    return std::unexpected(last_io_error());
  }
  if (type != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION information;
  if (!::GetFileInformationByHandle(native_, &information)) return std::unexpected(last_io_error());
  return (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::expected<bool, SourceError> FileHandle::is_directory() const {
  const DWORD type = ::GetFileType(native_);
  if (type == FILE_TYPE_UNKNOWN && ::GetLastError() != NO_ERROR) {
    return std::unexpected(last_io_error());
  }
  if (type != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION information;
  if (!::GetFileInformationByHandle(native_, &information)) return std::unexpected(last_io_error());
  return (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::expected<void, SourceError> FileHandle::flush() {
  if (!::FlushFileBuffers(native_)) return std::unexpected(last_io_error());
  return {};
}

// Windows cannot start writing back part of a file on request; the system's
// lazy writer and FlushFileBuffers do it all.
std::expected<void, SourceError> FileHandle::start_writeback(std::uint64_t /*offset*/,
                                                             std::uint64_t /*length*/) {
  return {};
}

// FlushFileBuffers on a volume handle writes out every file of the volume.
std::expected<void, SourceError> FileHandle::sync_file_system() { return flush(); }

std::expected<FileHandle, SourceError> FileHandle::open_volume_for_flush(
    const std::filesystem::path& volume) {
  HANDLE handle = ::CreateFileW(volume.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::unexpected(last_io_error());
  return FileHandle(handle);
}

std::expected<void, SourceError> FileHandle::lock_exclusive() {
  OVERLAPPED where = {};
  where.Offset = static_cast<DWORD>(kLockByteOffset & 0xFFFF'FFFFu);
  where.OffsetHigh = static_cast<DWORD>(kLockByteOffset >> 32);
  if (!::LockFileEx(native_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &where)) {
    return std::unexpected(last_io_error());
  }
  return {};
}

std::expected<void, SourceError> FileHandle::close() {
  HANDLE handle = std::exchange(native_, nullptr);
  if (handle == nullptr) return {};
  if (!::CloseHandle(handle)) return std::unexpected(last_io_error());
  return {};
}

}  // namespace kestrel
