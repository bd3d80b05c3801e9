#pragma once

#include <expected>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "cli/command_error.hpp"
#include "recovery-core/candidates/folder_path.hpp"

namespace kestrel {

// The name a folder gets when its own cannot serve (empty, blank, "." or "..").
inline constexpr std::string_view kFallbackFolderName = "recovered-folder";

// Recreates candidates' folder paths below one output directory, which must be
// the resolved (canonical) form. Each folder name is cleaned like a file name
// (sanitize_output_name), so it holds no separator and never climbs out, and
// cut at a whole character to what the destination holds (fit_output_name). A
// directory already there under that name is used as it is; anything else
// there (a file, a link or junction, even one to a directory) is never
// entered, and the folder gets the first free "{name}-recovered-{i}" instead,
// i up to 9999. Folders made or chosen in this run are remembered, so all the
// files of one folder land in one place.
class OutputFolders {
 public:
  explicit OutputFolders(std::filesystem::path root) : root_(std::move(root)) {}

  // The directory standing for `path` (the root itself for the volume root),
  // created as needed. Fails with the error of the item it was for:
  // OutputFolderNotCreated or NoFreeFolderName.
  std::expected<std::filesystem::path, CommandError> folder_for(const FolderPath& path);

 private:
  std::expected<std::filesystem::path, CommandError> child(const std::filesystem::path& parent,
                                                           const std::string& name);

  std::filesystem::path root_;
  std::map<std::pair<std::filesystem::path, std::string>, std::filesystem::path> chosen_;
};

// A folder name made safe as one path component (see OutputFolders).
std::string clean_folder_name(std::string_view name);

}  // namespace kestrel
