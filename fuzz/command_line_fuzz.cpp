// The command-line parser over any argument list: the input is the arguments
// after the program name, each ended by a NUL byte (a last one without its
// NUL counts too). The arguments are parsed and the command chosen, as the
// process entry does; a refusal becomes the error line the tool would print,
// which must stay one line of escaped text, followed by the usage block
// exactly as it is when the refusal carries one.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.hpp"
#include "cli/error_line.hpp"
#include "cli/render_error.hpp"
#include "fuzz/fuzz_check.hpp"

namespace {

std::vector<std::string> arguments_of(std::string_view input) {
  std::vector<std::string> arguments;
  while (!input.empty()) {
    const std::size_t end = input.find('\0');
    arguments.emplace_back(input.substr(0, end));
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
  }
  return arguments;
}

void check_error_line(const std::string& error_text) {
  using namespace kestrel;
  const std::string line = error_line(error_text);
  const std::string usage = "\n" + std::string(usage_block()) + "\n";
  std::string_view first_line = line;
  if (first_line.ends_with(usage)) {
    first_line.remove_suffix(usage.size());
  } else {
    fuzzing::require(first_line.ends_with('\n'), "the error output ends with a line feed");
    first_line.remove_suffix(1);
  }
  fuzzing::require(first_line.starts_with("KESTREL_ERROR="),
                   "the error line starts with its prefix");
  for (const char c : first_line) {
    const auto byte = static_cast<unsigned char>(c);
    fuzzing::require(byte >= 0x20 && byte != 0x7F, "the error line holds no control character");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrel;
  const std::vector<std::string> arguments =
      arguments_of(std::string_view(reinterpret_cast<const char*>(data), size));
  const auto line = parse_command_line(arguments);
  if (!line) {
    check_error_line(render_error(line.error()));
    return 0;
  }
  const auto command = select_command(*line);
  if (!command) check_error_line(render_error(command.error()));
  return 0;
}
