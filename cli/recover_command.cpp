#include "cli/recover_command.hpp"

#include "cli/candidate_selection.hpp"
#include "cli/cli_messages.hpp"
#include "cli/image_inspection.hpp"
#include "cli/output_paths.hpp"
#include "cli/progress_lines.hpp"
#include "cli/recovered_file.hpp"
#include "cli/recovered_file_times.hpp"
#include "cli/render_error.hpp"
#include "os/file_system.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

// The scan stops at the candidate asked for; the rest of the image is not read.
std::expected<void, CommandError> run_recover_command(DevicePlatform& platform,
                                                      const RecoverCommand& command,
                                                      Output& output) {
  KESTREL_TRY_ASSIGN(inspection,
                     inspect_image(command.image, command.sector_size, command.options));

  CandidateFinder finder(command.id);
  KESTREL_TRY(scan_image(*inspection, finder, progress_to(output)));
  if (!finder.found()) return std::unexpected(CommandError::CandidateNotFound{command.id});
  const RecoveryCandidate& candidate = *finder.found();

  const std::filesystem::path destination = path_from_text(command.output);
  KESTREL_TRY(check_distinct_paths(path_from_text(command.image), destination));
  const FileTimes times =
      command.options.timestamps ? recovered_file_times(candidate.dates) : FileTimes{};
  KESTREL_TRY_ASSIGN(written, recover_to_file(platform, inspection->source, candidate, destination,
                                              FileDurability::FlushedHere, {}, times));

  output.print_result_line("RESULT", "KESTREL_RECOVERY_OK");
  output.print_result_line("CANDIDATE_ID", candidate.id);
  output.print_result_line("OUTPUT", path_display(destination));
  output.print_result_line("BYTES_WRITTEN", std::to_string(written->bytes_written));
  // Only a file that could not take its dates says so, in one more line.
  if (written->times_not_set) {
    output.print_result_line(
        "TIMESTAMP_NOTE", cli_messages::times_not_set_note(render_error(*written->times_not_set)));
  }
  return {};
}

}  // namespace kestrel
