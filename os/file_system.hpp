#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// Paths and the file system. A failure is the generic I/O kind of SourceError
// as the system reported it.

struct FileMetadata {
  std::uint64_t length = 0;
  bool is_regular = false;
  bool is_directory = false;
};

// The metadata of a path, following links.
std::expected<FileMetadata, SourceError> read_metadata(const std::filesystem::path& path);

// What a path names itself, a link at its end not followed.
enum class PathEntryKind {
  Missing,
  Directory,
  Other
};  // Other: a file, any kind of link, a device...

// The kind of entry at `path` (lstat; on Windows a reparse point, such as a
// junction or a symbolic link, is Other).
std::expected<PathEntryKind, SourceError> path_entry_kind(const std::filesystem::path& path);

// Creates one directory whose parent exists. Anything already at the path is
// an error (of the already-exists kind).
std::expected<void, SourceError> create_directory(const std::filesystem::path& path);

// The canonical absolute form, with every link and relative part resolved by
// the operating system. The path must exist.
std::expected<std::filesystem::path, SourceError> canonical_path(const std::filesystem::path& path);

// Creates the directory and every missing parent; an existing directory is fine.
std::expected<void, SourceError> create_directories(const std::filesystem::path& path);

std::expected<std::filesystem::path, SourceError> current_directory();

// The path made absolute by the platform's rules, without touching the file
// system: on Linux a relative path is joined to the current directory; on
// Windows the system completes it (GetFullPathNameW), which also takes a
// drive-relative "F:x" to F:'s current directory and a rooted "\x" to the
// current drive. Extended-length and share paths are already absolute.
std::expected<std::filesystem::path, SourceError> absolute_path(const std::filesystem::path& path);

// Deletes a file.
std::expected<void, SourceError> remove_file(const std::filesystem::path& path);

// A path from its command-line text.
std::filesystem::path path_from_text(std::string_view text);

// A path as UTF-8 text for display; bytes that do not decode become U+FFFD.
std::string path_display(const std::filesystem::path& path);

}  // namespace kestrel
