#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// Which operating system's rules a path's text follows. The rules are plain
// text logic, so both sets can be exercised on any system.
enum class PathRules { Posix, Windows };

#ifdef _WIN32
inline constexpr PathRules kNativePathRules = PathRules::Windows;
#else
inline constexpr PathRules kNativePathRules = PathRules::Posix;
#endif

// The root of a path: what no parent can be taken of.
//   POSIX: the leading slashes.
//   Windows: a prefix and the separator after it, if any: a drive ("C:" or
//   "C:\"), a share ("\\server\share\"), an extended-length prefix
//   ("\\?\C:\", "\\?\UNC\server\share\", "\\?\Volume{...}\"), a device
//   ("\\.\PhysicalDrive1"), or a lone leading separator ("\dir").
// In an extended-length path only the backslash separates; elsewhere on
// Windows the slash does too.
struct PathRoot {
  std::size_t length = 0;        // in code units of the text
  bool extended_length = false;  // "\\?\": names are taken literally, "/" is no separator
};

template <typename Char>
PathRoot path_root(std::basic_string_view<Char> path, PathRules rules);

// A path split into the directory its final component lies in and that
// component. Repeated separators, a trailing separator and inner "."
// components do not count; a leading "." does. There is no file name when the
// path ends in "." or "..", or is only a root. The parent is empty when the
// path has none (a lone name, "..", ".", a root).
template <typename Char>
struct FinalComponentSplit {
  std::basic_string<Char> parent;
  std::optional<std::basic_string<Char>> file_name;
};

template <typename Char>
FinalComponentSplit<Char> split_final_component(std::basic_string_view<Char> path, PathRules rules);

}  // namespace kestrel
