#include <windows.h>

#include <string>

#include "os/file_system_sync.hpp"
#include "os/os_error.hpp"
#include "recovery-core/text/wide_text.hpp"

namespace kestrel {

namespace {

// The volume a folder lies on, as the device path that opens it
// ("\\?\Volume{...}" without the final backslash); empty when unknown.
std::wstring volume_device_path(const std::filesystem::path& folder) {
  wchar_t mount_point[MAX_PATH + 1] = {};
  if (!::GetVolumePathNameW(folder.c_str(), mount_point, MAX_PATH + 1)) return {};
  wchar_t volume[MAX_PATH + 1] = {};
  if (!::GetVolumeNameForVolumeMountPointW(mount_point, volume, MAX_PATH + 1)) return {};
  std::wstring path(volume);
  if (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

}  // namespace

// Only a volume opened for writing can be flushed as a whole, and opening one
// needs administrator rights; without them every file is flushed on its own.
// The volume is flushed once when covered, so that one whose flush fails
// (some drivers refuse) leaves its files to be flushed one by one instead.
bool FileSystemSync::cover(const std::filesystem::path& folder) {
  if (auto known = folders_.find(folder); known != folders_.end()) return known->second;
  bool covered = false;
  const std::wstring volume = volume_device_path(folder);
  if (!volume.empty()) {
    const std::string key = utf8_from_wide_lossy(volume);
    if (file_systems_.contains(key)) {
      covered = true;
    } else if (auto handle = FileHandle::open_volume_for_flush(std::filesystem::path(volume));
               handle && handle->sync_file_system()) {
      // Flushed once here already: a volume that cannot be flushed is not relied on.
      file_systems_.emplace(key, std::move(*handle));
      covered = true;
    }
  }
  folders_.emplace(folder, covered);
  return covered;
}

}  // namespace kestrel
