#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "os/file_system_sync.hpp"
#include "os/os_error.hpp"

namespace kestrel {

// A folder's file system is known by its device number; the folder itself,
// opened for reading, is the handle syncfs needs.
bool FileSystemSync::cover(const std::filesystem::path& folder) {
  if (auto known = folders_.find(folder); known != folders_.end()) return known->second;
  bool covered = false;
  struct stat st{};
  if (::stat(folder.c_str(), &st) == 0) {
    const std::string device = std::to_string(st.st_dev);
    if (file_systems_.contains(device)) {
      covered = true;
    } else if (auto handle = FileHandle::open_for_reading(folder)) {
      file_systems_.emplace(device, std::move(*handle));
      covered = true;
    }
  }
  folders_.emplace(folder, covered);
  return covered;
}

}  // namespace kestrel
