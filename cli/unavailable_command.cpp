#include "cli/unavailable_command.hpp"

namespace kestrel {

std::expected<void, std::string> unavailable_command(std::string_view command_word) {
  return std::unexpected("the " + std::string(command_word) +
                         " command is not available in this build yet");
}

}  // namespace kestrel
