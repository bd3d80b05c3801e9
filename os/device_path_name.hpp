#pragma once

#include <filesystem>
#include <string_view>

#include "os/path_split.hpp"

namespace kestrel {

// Whether a path's text names a device rather than a file that may be created
// or written as an image. On Windows a device can be opened like a file (and a
// volume handle looks like a file on a disk), so such a path is refused by its
// text before anything is opened:
//   - the device namespace: "\\.\D:", "\\.\PhysicalDrive1", any "\\.\" path;
//   - an extended-length path that is only a volume or a kernel object:
//     "\\?\D:", "\\?\Volume{...}" (with or without a trailing separator),
//     "\\?\GLOBALROOT\...";
//   - a reserved DOS device name as the final component of an ordinary path
//     (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, with or without an extension
//     or trailing spaces), which Windows opens as that device wherever it stands.
// On POSIX a device node is an ordinary path whose metadata says what it is, so
// this is never true there.
template <typename Char>
bool path_names_device(std::basic_string_view<Char> path, PathRules rules);

inline bool path_names_device(const std::filesystem::path& path) {
  return path_names_device(std::basic_string_view<std::filesystem::path::value_type>(path.native()),
                           kNativePathRules);
}

}  // namespace kestrel
