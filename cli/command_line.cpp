#include "cli/command_line.hpp"

#include <limits>

namespace kestrel {

namespace {

std::string with_usage(std::string_view message) {
  return std::string(message) + "\n" + std::string(usage_block());
}

// The value after an option, if there is one; the next argument is always
// consumed as the value, even when it starts with a dash.
std::optional<std::string> take_value(std::span<const std::string> arguments, std::size_t& i) {
  if (i + 1 >= arguments.size()) return std::nullopt;
  ++i;
  return arguments[i];
}

}  // namespace

std::string_view usage_block() {
  return "usage:\n"
         "kestrel-recovery-cli devices\n"
         "kestrel-recovery-cli scan --image <path> [--sector-size 512]\n"
         "kestrel-recovery-cli recover --image <path> --id <candidate> --output <path>\n"
         "kestrel-recovery-cli recover-all --image <path> --output-directory <path> "
         "[--name-prefix <prefix>]\n"
         "kestrel-recovery-cli image (--physical-drive <N> | --volume <LETTER>) --output <path> "
         "[--no-resume]";
}

std::expected<std::uint32_t, std::string> parse_u32(std::string_view text) {
  if (text.empty()) return std::unexpected("cannot parse integer from empty string");
  std::string_view digits = text;
  if (digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty()) return std::unexpected("invalid digit found in string");
  std::uint64_t value = 0;
  bool too_large = false;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::unexpected("invalid digit found in string");
    if (!too_large) {
      value = value * 10 + static_cast<std::uint64_t>(c - '0');
      if (value > std::numeric_limits<std::uint32_t>::max()) too_large = true;
    }
  }
  if (too_large) return std::unexpected("number too large to fit in target type");
  return static_cast<std::uint32_t>(value);
}

std::expected<char, std::string> parse_drive_letter(std::string_view text) {
  while (!text.empty() && text.back() == ':') text.remove_suffix(1);
  if (text.empty()) return std::unexpected("expected a drive letter");
  char letter = text.front();
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (text.size() != 1 || letter < 'A' || letter > 'Z') {
    return std::unexpected("expected a single ASCII drive letter");
  }
  return letter;
}

std::expected<CommandLine, std::string> parse_command_line(std::span<const std::string> arguments) {
  if (arguments.empty()) return std::unexpected(with_usage("missing command"));
  CommandLine line;
  line.command = arguments[0];

  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    std::optional<std::string>* text_option = nullptr;
    if (argument == "--image") text_option = &line.image;
    else if (argument == "--id") text_option = &line.id;
    else if (argument == "--output") text_option = &line.output;
    else if (argument == "--output-directory") text_option = &line.output_directory;
    else if (argument == "--name-prefix") text_option = &line.name_prefix;

    if (text_option != nullptr) {
      *text_option = take_value(arguments, i);
    } else if (argument == "--sector-size" || argument == "--physical-drive") {
      const std::string name = argument.substr(2);
      const auto value = take_value(arguments, i);
      if (!value) return std::unexpected(with_usage("--" + name + " requires a value"));
      auto number = parse_u32(*value);
      if (!number) return std::unexpected(with_usage("invalid --" + name + ": " + number.error()));
      if (argument == "--sector-size") {
        line.sector_size = *number;
      } else {
        line.physical_drive = *number;
      }
    } else if (argument == "--volume") {
      const auto value = take_value(arguments, i);
      if (!value) return std::unexpected(with_usage("--volume requires a value"));
      auto letter = parse_drive_letter(*value);
      if (!letter) return std::unexpected(with_usage("invalid --volume: " + letter.error()));
      line.volume = *letter;
    } else if (argument == "--no-resume") {
      line.resume = false;
    } else if (argument == "--carve") {
      line.carve = true;
    } else {
      return std::unexpected(with_usage("unknown argument: " + argument));
    }
  }
  return line;
}

std::expected<RunnableCommand, std::string> select_command(const CommandLine& line) {
  const auto require = [](const std::optional<std::string>& value,
                          std::string_view message) -> std::expected<std::string, std::string> {
    if (!value) return std::unexpected(with_usage(message));
    return *value;
  };

  const ScanOptions options{.carve = line.carve};
  if (line.command == "devices") return DevicesCommand{};
  if (line.command == "scan") {
    auto image = require(line.image, "--image is required");
    if (!image) return std::unexpected(image.error());
    return ScanCommand{*image, line.sector_size, options};
  }
  if (line.command == "recover") {
    auto image = require(line.image, "--image is required");
    if (!image) return std::unexpected(image.error());
    auto id = require(line.id, "--id is required");
    if (!id) return std::unexpected(id.error());
    auto output = require(line.output, "--output is required");
    if (!output) return std::unexpected(output.error());
    return RecoverCommand{*image, *id, *output, line.sector_size, options};
  }
  if (line.command == "recover-all") {
    auto image = require(line.image, "--image is required");
    if (!image) return std::unexpected(image.error());
    auto directory = require(line.output_directory, "--output-directory is required");
    if (!directory) return std::unexpected(directory.error());
    return RecoverAllCommand{*image, *directory, line.name_prefix, line.sector_size, options};
  }
  if (line.command == "image") {
    auto output = require(line.output, "--output is required");
    if (!output) return std::unexpected(output.error());
    if (!line.physical_drive) {
      if (!line.volume) return std::unexpected(with_usage("--physical-drive or --volume is required"));
      return ImageCommand{ImageSource(*line.volume), *output, line.resume};
    }
    if (line.volume) {
      return std::unexpected(with_usage("--physical-drive and --volume are mutually exclusive"));
    }
    return ImageCommand{ImageSource(*line.physical_drive), *output, line.resume};
  }
  return std::unexpected(with_usage("unknown command"));
}

}  // namespace kestrel
