#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>

#include "os/file_times.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// An open file, closed when the handle is dropped. Move-only. A failure is the
// generic I/O kind of SourceError as the system reported it; calls the system
// interrupted are made again.
class FileHandle {
 public:
#ifdef _WIN32
  using Native = void*;
#else
  using Native = int;
#endif

  // Read-only. Others may keep reading, writing or deleting the file while it
  // is open; a named pipe without a writer does not block the open.
  static std::expected<FileHandle, SourceError> open_for_reading(const std::filesystem::path& path);
  // A new file for writing; an existing path fails with the AlreadyExists kind
  // and is never opened for writing.
  static std::expected<FileHandle, SourceError> create_new(const std::filesystem::path& path);
  // For reading and writing, created when missing, never truncated.
  static std::expected<FileHandle, SourceError> open_read_write(const std::filesystem::path& path);
  // For writing, created when missing, truncated when present. Never waits
  // for the other end of a named pipe (one without a reader fails).
  static std::expected<FileHandle, SourceError> create_or_truncate(
      const std::filesystem::path& path);
  // A new file for reading and writing that has no name others can open and
  // is gone once the handle closes, in the system's directory for temporary
  // files (TMPDIR or /tmp on Linux, GetTempPathW on Windows).
  static std::expected<FileHandle, SourceError> create_temporary();
#ifdef _WIN32
  // A volume ("\\?\Volume{...}") opened so that sync_file_system can flush it;
  // needs administrator rights.
  static std::expected<FileHandle, SourceError> open_volume_for_flush(
      const std::filesystem::path& volume);
#endif

  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle();

  // One positional read (repeated only when interrupted); may return fewer bytes.
  std::expected<std::size_t, SourceError> read_at(std::uint64_t offset,
                                                  std::span<std::uint8_t> buffer);
  // Reads at the current position until the buffer is full or the file ends.
  std::expected<std::size_t, SourceError> read_fully(std::span<std::uint8_t> buffer);
  // Writes all of the buffer at the current position. A system write that
  // takes nothing fails with our own WriteZero text "failed to write whole buffer".
  std::expected<void, SourceError> write_all(std::span<const std::uint8_t> buffer);
  std::expected<void, SourceError> seek(std::uint64_t offset);
  std::expected<std::uint64_t, SourceError> length() const;
  std::expected<bool, SourceError> is_regular_file() const;
  std::expected<bool, SourceError> is_directory() const;
  // Pushes the file's data to the device.
  std::expected<void, SourceError> flush();
  // Starts handing the bytes written at [offset, offset + length) to the
  // device and returns without waiting for them, so that a later flush has
  // less left to wait for. Promises nothing about durability; only flush
  // does. Linux starts the writeback (sync_file_range); Windows has no such
  // call, and there the flush does all of it.
  std::expected<void, SourceError> start_writeback(std::uint64_t offset, std::uint64_t length);
  // Pushes everything written to the file system the file lies on to the
  // device (Linux: syncfs); on Windows the handle must be a volume's.
  std::expected<void, SourceError> sync_file_system();
  // An exclusive advisory lock for the life of the handle; fails at once when
  // another handle holds it.
  std::expected<void, SourceError> lock_exclusive();
  // Gives the open file the times that are present (file_times.hpp); the
  // others are left as they are. Acts on this handle only, never on a name.
  std::expected<void, SourceError> set_times(const FileTimes& times);
  // Closes now and reports a failure of the close itself.
  std::expected<void, SourceError> close();

  bool is_open() const;

 private:
  explicit FileHandle(Native native) : native_(native) {}
  void reset() noexcept;

#ifdef _WIN32
  Native native_ = nullptr;
#else
  Native native_ = -1;
#endif
};

}  // namespace kestrel
