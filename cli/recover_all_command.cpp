#include "cli/recover_all_command.hpp"

#include <map>

#include "cli/batch_recovery_report.hpp"
#include "cli/candidate_selection.hpp"
#include "cli/cli_messages.hpp"
#include "cli/image_inspection.hpp"
#include "cli/output_folders.hpp"
#include "cli/output_paths.hpp"
#include "cli/progress_lines.hpp"
#include "cli/recovered_file.hpp"
#include "os/file_system.hpp"

namespace kestrel {

namespace {

// Where the files of one batch go: the output directory itself or, when every
// folder was walked, each candidate's folder recreated below it.
class BatchDestinations {
 public:
  BatchDestinations(std::filesystem::path directory, bool recreate_folders)
      : directory_(directory), recreate_folders_(recreate_folders), folders_(std::move(directory)) {}

  // The folder a candidate's file goes into; a failure is the item's error.
  std::expected<std::filesystem::path, std::string> folder_for(const RecoveryCandidate& candidate) {
    if (!recreate_folders_ || !candidate.directory) return directory_;
    return folders_.folder_for(*candidate.directory);
  }

  // A new file name in `folder`; a failure ends the batch.
  std::expected<std::filesystem::path, std::string> choose(const std::filesystem::path& folder,
                                                           const std::string& name) {
    return choosers_.try_emplace(folder, folder).first->second.choose(name);
  }

 private:
  std::filesystem::path directory_;
  bool recreate_folders_;
  OutputFolders folders_;
  std::map<std::filesystem::path, OutputPathChooser> choosers_;
};

// Recovers one candidate into its item; the error ends the whole batch.
std::expected<BatchRecoveryItem, std::string> recover_one(DevicePlatform& platform,
                                                          const RecoveryCandidate& candidate,
                                                          ImageInspection& inspection,
                                                          const std::filesystem::path& image,
                                                          BatchDestinations& destinations) {
  BatchRecoveryItem item;
  item.candidate_id = candidate.id;
  item.candidate_name = candidate.name;
  auto folder = destinations.folder_for(candidate);
  if (!folder) {
    item.error = folder.error();
    return item;
  }
  auto destination = destinations.choose(*folder, candidate.name);
  if (!destination) return std::unexpected(destination.error());
  if (auto distinct = check_distinct_paths(image, *destination); !distinct) return std::unexpected(distinct.error());
  auto written = recover_to_file(platform, inspection.source, candidate, *destination);
  if (written) {
    item.output = path_display(*destination);
    item.bytes_written = *written;
  } else {
    item.error = written.error();
  }
  return item;
}

}  // namespace

std::expected<void, std::string> run_recover_all_command(DevicePlatform& platform,
                                                         const RecoverAllCommand& command, Output& output) {
  const std::filesystem::path directory = path_from_text(command.output_directory);
  if (auto created = kestrel::create_directories(directory); !created) {
    return std::unexpected(cli_messages::output_directory_not_created(
        path_display(directory), created.error().io_failure().message()));
  }
  auto resolved_directory = canonical_path(directory);
  if (!resolved_directory) {
    return std::unexpected(resolved_directory.error().io_failure().message());
  }

  auto inspection = inspect_image(command.image, command.sector_size, command.options, progress_to(output));
  if (!inspection) return std::unexpected(inspection.error());
  const std::vector<const RecoveryCandidate*> selected =
      select_candidates(*inspection, command.name_prefix);
  if (selected.empty()) return std::unexpected(std::string(cli_messages::kNoCandidateMatched));

  const std::filesystem::path image = path_from_text(command.image);
  BatchDestinations destinations(*resolved_directory, command.options.all_directories);
  BatchRecoveryReport report;
  report.image = inspection->image;
  report.output_directory = path_display(*resolved_directory);
  report.name_prefix = command.name_prefix;
  report.items.reserve(selected.size());
  for (const RecoveryCandidate* candidate : selected) {
    auto item = recover_one(platform, *candidate, *inspection, image, destinations);
    if (!item) return std::unexpected(item.error());
    report.items.push_back(std::move(*item));
  }

  if (auto printed = output.print_document(to_json(report)); !printed) {
    return std::unexpected(printed.error());
  }
  if (report.failed_count() != 0) {
    return std::unexpected(cli_messages::batch_failures(report.failed_count()));
  }
  return {};
}

}  // namespace kestrel
