#pragma once

#include <expected>
#include <filesystem>
#include <map>
#include <string>

#include "os/file_handle.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// Makes many new files durable at once instead of one by one: the folders the
// files go into are covered first, and one sync() then pushes to the device
// everything written to the file systems (Linux: one syncfs each) or volumes
// (Windows: FlushFileBuffers on the volume, which needs administrator rights)
// they lie on. Where a folder's file system cannot be synced as a whole, its
// files must be flushed one by one, as cover() says.
class FileSystemSync {
 public:
  FileSystemSync() = default;
  FileSystemSync(FileSystemSync&&) = default;
  FileSystemSync& operator=(FileSystemSync&&) = default;

  // Takes note that files will be written into `folder`, which exists. True
  // when sync() will make them durable; false when each must be flushed on
  // its own.
  bool cover(const std::filesystem::path& folder);

  // Pushes every covered file system's data to its device; the first failure
  // is returned (every file system is still synced).
  std::expected<void, SourceError> sync();

 private:
  std::map<std::filesystem::path, bool> folders_;   // covered folders and the answer given
  std::map<std::string, FileHandle> file_systems_;  // one open handle per file system
};

}  // namespace kestrel
