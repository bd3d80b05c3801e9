#include "cli/output_folders.hpp"

#include "cli/output_name_length.hpp"
#include "cli/output_paths.hpp"
#include "os/file_system.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/text/unicode.hpp"

namespace kestrel {

namespace {

// What came of trying one name for a folder.
enum class Attempt { Usable, Taken };

// Uses the directory at `path` or creates it; Taken when something else is there.
std::expected<Attempt, CommandError> use_or_create(const std::filesystem::path& path) {
  auto kind = path_entry_kind(path);
  if (kind && *kind == PathEntryKind::Missing) {
    auto created = kestrel::create_directory(path);
    if (created) return Attempt::Usable;
    kind = path_entry_kind(path);  // made by someone else meanwhile?
    if (!kind || *kind == PathEntryKind::Missing) {
      return std::unexpected(
          CommandError::OutputFolderNotCreated{path_display(path), std::move(created).error()});
    }
  }
  if (!kind)
    return std::unexpected(
        CommandError::OutputFolderNotCreated{path_display(path), std::move(kind).error()});
  return *kind == PathEntryKind::Directory ? Attempt::Usable : Attempt::Taken;
}

}  // namespace

std::string clean_folder_name(std::string_view name) {
  std::string clean = sanitize_output_name(name);
  if (trim_unicode_white_space(clean).empty() || clean == "." || clean == "..")
    return std::string(kFallbackFolderName);
  return fit_output_name(clean, "");
}

std::expected<std::filesystem::path, CommandError> OutputFolders::folder_for(
    const FolderPath& path) {
  std::filesystem::path folder = root_;
  for (const std::string& name : path) {
    KESTREL_TRY_ASSIGN(next, child(folder, clean_folder_name(name)));
    folder = std::move(*next);
  }
  return folder;
}

std::expected<std::filesystem::path, CommandError> OutputFolders::child(
    const std::filesystem::path& parent, const std::string& name) {
  const auto key = std::make_pair(parent, name);
  if (auto known = chosen_.find(key); known != chosen_.end()) return known->second;
  for (std::uint32_t counter = 0; counter <= kMaxOutputNameCounter; ++counter) {
    const std::string attempt_name =
        counter == 0 ? name : fit_output_name(name, "-recovered-" + std::to_string(counter));
    std::filesystem::path attempt = parent / path_from_text(attempt_name);
    KESTREL_TRY_ASSIGN(attempted, use_or_create(attempt));
    if (*attempted == Attempt::Taken) continue;
    chosen_.emplace(key, attempt);
    return attempt;
  }
  return std::unexpected(CommandError::NoFreeFolderName{});
}

}  // namespace kestrel
