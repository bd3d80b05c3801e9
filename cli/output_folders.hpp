#pragma once

#include <expected>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "recovery-core/candidates/folder_path.hpp"

namespace kestrel {

// The name a folder gets when its own cannot serve (empty, blank, "." or "..").
inline constexpr std::string_view kFallbackFolderName = "recovered-folder";

// Recreates candidates' folder paths below one output directory, which must be
// the resolved (canonical) form. Each folder name is cleaned like a file name
// (sanitize_output_name), so it holds no separator and never climbs out. A
// directory already there under that name is used as it is; anything else
// there (a file, a link or junction, even one to a directory) is never
// entered, and the folder gets the first free "{name}-recovered-{i}" instead,
// i up to 9999. Folders made or chosen in this run are remembered, so all the
// files of one folder land in one place.
class OutputFolders {
 public:
  explicit OutputFolders(std::filesystem::path root) : root_(std::move(root)) {}

  // The directory standing for `path` (the root itself for the volume root),
  // created as needed. Fails with the message of the item it was for:
  // "cannot create output folder {path}: {error}" or
  // "cannot create a non-overwriting output folder name".
  std::expected<std::filesystem::path, std::string> folder_for(const FolderPath& path);

 private:
  std::expected<std::filesystem::path, std::string> child(const std::filesystem::path& parent,
                                                          const std::string& name);

  std::filesystem::path root_;
  std::map<std::pair<std::filesystem::path, std::string>, std::filesystem::path> chosen_;
};

// A folder name made safe as one path component (see OutputFolders).
std::string clean_folder_name(std::string_view name);

}  // namespace kestrel
