#include "cli/recover_all_command.hpp"

#include "cli/batch_recovery_report.hpp"
#include "cli/candidate_selection.hpp"
#include "cli/cli_messages.hpp"
#include "cli/image_inspection.hpp"
#include "cli/progress_lines.hpp"
#include "cli/output_paths.hpp"
#include "os/file_system.hpp"
#include "recovery-core/extraction/extraction.hpp"

namespace kestrel {

std::expected<void, std::string> run_recover_all_command(const RecoverAllCommand& command,
                                                         Output& output) {
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
  OutputPathChooser chooser(*resolved_directory);
  BatchRecoveryReport report;
  report.image = inspection->image;
  report.output_directory = path_display(*resolved_directory);
  report.name_prefix = command.name_prefix;
  report.items.reserve(selected.size());
  for (const RecoveryCandidate* candidate : selected) {
    auto destination = chooser.choose(candidate->name);
    if (!destination) return std::unexpected(destination.error());
    if (auto distinct = check_distinct_paths(image, *destination); !distinct) {
      return std::unexpected(distinct.error());
    }
    BatchRecoveryItem item;
    item.candidate_id = candidate->id;
    item.candidate_name = candidate->name;
    auto written = extract_candidate(inspection->source, *candidate, *destination);
    if (written) {
      item.output = path_display(*destination);
      item.bytes_written = *written;
    } else {
      item.error = written.error().message();
    }
    report.items.push_back(std::move(item));
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
