#include "cli/process_entry.hpp"

#include <expected>
#include <type_traits>
#include <variant>

#include "cli/command_line.hpp"
#include "cli/devices_command.hpp"
#include "cli/image_command.hpp"
#include "cli/recover_all_command.hpp"
#include "cli/recover_command.hpp"
#include "cli/render_error.hpp"
#include "cli/scan_command.hpp"

namespace kestrel {

namespace {

std::expected<void, CommandError> run_command(const RunnableCommand& command, Output& output,
                                              DevicePlatform& platform) {
  return std::visit(
      [&](const auto& runnable) -> std::expected<void, CommandError> {
        using T = std::decay_t<decltype(runnable)>;
        if constexpr (std::is_same_v<T, DevicesCommand>) {
          return run_devices_command(platform, output);
        } else if constexpr (std::is_same_v<T, ScanCommand>) {
          return run_scan_command(runnable, output);
        } else if constexpr (std::is_same_v<T, RecoverCommand>) {
          return run_recover_command(platform, runnable, output);
        } else if constexpr (std::is_same_v<T, RecoverAllCommand>) {
          return run_recover_all_command(platform, runnable, output);
        } else {
          return run_image_command(platform, runnable, output);
        }
      },
      command);
}

// The arguments checked and their command run. An argument error is built in
// place from the failed result rather than moved out of it (KESTREL_TRY_ASSIGN):
// the MinGW build of GCC 12 takes the move for a read of uninitialised memory.
std::expected<void, CommandError> run_arguments(std::span<const std::string> arguments,
                                                Output& output, DevicePlatform& platform) {
  const auto line = parse_command_line(arguments);
  if (!line) return std::unexpected<CommandError>(std::in_place, line.error());
  const auto command = select_command(*line);
  if (!command) return std::unexpected<CommandError>(std::in_place, command.error());
  return run_command(*command, output, platform);
}

}  // namespace

int run_process(std::span<const std::string> arguments, Output& output, DevicePlatform& platform) {
  std::expected<void, CommandError> outcome = run_arguments(arguments, output, platform);

  // A result that did not reach standard output is not a success; a command
  // that already failed keeps its own message.
  auto delivered = output.finish_result();
  if (outcome && !delivered) outcome = std::unexpected(delivered.error());

  if (!outcome) return end_with_error(output, outcome.error());
  return 0;
}

int end_with_error(Output& output, const CommandError& error) {
  output.print_error_line(render_error(error));
  return 2;
}

}  // namespace kestrel
