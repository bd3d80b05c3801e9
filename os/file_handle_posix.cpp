#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

#include "os/file_handle.hpp"
#include "os/os_error.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

std::expected<FileHandle::Native, SourceError> open_native(const std::filesystem::path& path,
                                                           int flags) {
  for (;;) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EINTR) return std::unexpected(last_io_error());
  }
}

}  // namespace

// Opening a named pipe waits for its other end unless the open is
// non-blocking; a path that turned out to be one must fail or be refused by
// the caller, never hang the tool. On files and devices the flag changes nothing.
std::expected<FileHandle, SourceError> FileHandle::open_for_reading(
    const std::filesystem::path& path) {
  KESTREL_TRY_ASSIGN(fd, open_native(path, O_RDONLY | O_NONBLOCK));
  return FileHandle(*fd);
}

std::expected<FileHandle, SourceError> FileHandle::create_new(const std::filesystem::path& path) {
  KESTREL_TRY_ASSIGN(fd, open_native(path, O_WRONLY | O_CREAT | O_EXCL));
  return FileHandle(*fd);
}

std::expected<FileHandle, SourceError> FileHandle::open_read_write(
    const std::filesystem::path& path) {
  KESTREL_TRY_ASSIGN(fd, open_native(path, O_RDWR | O_CREAT));
  return FileHandle(*fd);
}

std::expected<FileHandle, SourceError> FileHandle::create_or_truncate(
    const std::filesystem::path& path) {
  KESTREL_TRY_ASSIGN(fd, open_native(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK));
  return FileHandle(*fd);
}

// O_TMPFILE makes a file that never has a name; where the file system cannot,
// a named file is made and its name removed at once.
std::expected<FileHandle, SourceError> FileHandle::create_temporary() {
  const char* configured = std::getenv("TMPDIR");
  const std::string directory = configured != nullptr && *configured != '\0' ? configured : "/tmp";
  auto fd = open_native(directory, O_RDWR | O_TMPFILE | O_EXCL);
  if (fd) return FileHandle(*fd);
  std::string name = directory + "/kestrel-XXXXXX";
  const int named = ::mkostemp(name.data(), O_CLOEXEC);
  if (named < 0) return std::unexpected(last_io_error());
  ::unlink(name.c_str());
  return FileHandle(named);
}

FileHandle::FileHandle(FileHandle&& other) noexcept : native_(std::exchange(other.native_, -1)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    reset();
    native_ = std::exchange(other.native_, -1);
  }
  return *this;
}

FileHandle::~FileHandle() { reset(); }

void FileHandle::reset() noexcept {
  if (native_ >= 0) {
    ::close(native_);
    native_ = -1;
  }
}

bool FileHandle::is_open() const { return native_ >= 0; }

std::expected<std::size_t, SourceError> FileHandle::read_at(std::uint64_t offset,
                                                            std::span<std::uint8_t> buffer) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) {
    return std::unexpected(io_error_from_os_code(EINVAL));
  }
  for (;;) {
    const ssize_t n = ::pread(native_, buffer.data(), buffer.size(), static_cast<off_t>(offset));
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return std::unexpected(last_io_error());
  }
}

std::expected<std::size_t, SourceError> FileHandle::read_fully(std::span<std::uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t n = ::read(native_, buffer.data() + done, buffer.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(last_io_error());
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::expected<void, SourceError> FileHandle::write_all(std::span<const std::uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t n = ::write(native_, buffer.data() + done, buffer.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(last_io_error());
    }
    if (n == 0) {
      return std::unexpected(
          SourceError::io("failed to write whole buffer", IoErrorKind::WriteZero));
    }
    done += static_cast<std::size_t>(n);
  }
  return {};
}

std::expected<void, SourceError> FileHandle::seek(std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) {
    return std::unexpected(io_error_from_os_code(EINVAL));
  }
  if (::lseek(native_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    return std::unexpected(last_io_error());
  }
  return {};
}

std::expected<std::uint64_t, SourceError> FileHandle::length() const {
  struct stat st{};
  if (::fstat(native_, &st) != 0) return std::unexpected(last_io_error());
  return static_cast<std::uint64_t>(st.st_size);
}

std::expected<bool, SourceError> FileHandle::is_regular_file() const {
  struct stat st{};
  if (::fstat(native_, &st) != 0) return std::unexpected(last_io_error());
  return S_ISREG(st.st_mode);
}

std::expected<bool, SourceError> FileHandle::is_directory() const {
  struct stat st{};
  if (::fstat(native_, &st) != 0) return std::unexpected(last_io_error());
  return S_ISDIR(st.st_mode);
}

std::expected<void, SourceError> FileHandle::flush() {
  for (;;) {
    if (::fsync(native_) == 0) return {};
    if (errno != EINTR) return std::unexpected(last_io_error());
  }
}

std::expected<void, SourceError> FileHandle::start_writeback(std::uint64_t offset,
                                                             std::uint64_t length) {
  for (;;) {
    if (::sync_file_range(native_, static_cast<off_t>(offset), static_cast<off_t>(length),
                          SYNC_FILE_RANGE_WRITE) == 0)
      return {};
    if (errno != EINTR) return std::unexpected(last_io_error());
  }
}

std::expected<void, SourceError> FileHandle::sync_file_system() {
  if (::syncfs(native_) == 0) return {};
  return std::unexpected(last_io_error());
}

std::expected<void, SourceError> FileHandle::lock_exclusive() {
  for (;;) {
    if (::flock(native_, LOCK_EX | LOCK_NB) == 0) return {};
    if (errno != EINTR) return std::unexpected(last_io_error());
  }
}

std::expected<void, SourceError> FileHandle::close() {
  const int fd = std::exchange(native_, -1);
  if (fd < 0) return {};
  // The descriptor is released even when close reports an error; it is never retried.
  if (::close(fd) != 0 && errno != EINTR) return std::unexpected(last_io_error());
  return {};
}

}  // namespace kestrel
