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

}  // namespace

int run_process(std::span<const std::string> arguments, Output& output, DevicePlatform& platform) {
  std::expected<void, CommandError> outcome;
  auto line = parse_command_line(arguments);
  if (!line) {
    outcome = std::unexpected(line.error());
  } else if (auto command = select_command(*line); !command) {
    outcome = std::unexpected(command.error());
  } else {
    outcome = run_command(*command, output, platform);
  }

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
