#include "cli/command_line.hpp"

#include <limits>

#include "cli/cli_messages.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

namespace messages = cli_messages;

// Takes the argument after an option as its value, whatever it looks like; an
// option at the very end has none.
std::optional<std::string> take_value(std::span<const std::string> arguments, std::size_t& i) {
  if (i + 1 >= arguments.size()) return std::nullopt;
  ++i;
  return arguments[i];
}

// The value of a required option, or the error naming it.
std::expected<std::string, ArgumentError> required(const std::optional<std::string>& value,
                                                   MissingOption missing) {
  if (!value) return std::unexpected(ArgumentError::OptionMissing{missing});
  return *value;
}

}  // namespace

std::string_view usage_block() { return messages::kUsageBlock; }

std::expected<std::uint32_t, ValueRefusal> parse_u32(std::string_view digits_text) {
  if (digits_text.empty()) return std::unexpected(ValueRefusal::EmptyNumber);
  std::string_view digits = digits_text;
  if (digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty()) return std::unexpected(ValueRefusal::InvalidDigit);
  std::uint64_t value = 0;
  bool too_large = false;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::unexpected(ValueRefusal::InvalidDigit);
    if (!too_large) {
      value = value * 10 + static_cast<std::uint64_t>(c - '0');
      if (value > std::numeric_limits<std::uint32_t>::max()) too_large = true;
    }
  }
  if (too_large) return std::unexpected(ValueRefusal::NumberTooLarge);
  return static_cast<std::uint32_t>(value);
}

std::expected<char, ValueRefusal> parse_drive_letter(std::string_view value) {
  while (!value.empty() && value.back() == ':') value.remove_suffix(1);
  if (value.empty()) return std::unexpected(ValueRefusal::NoDriveLetter);
  char letter = value.front();
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (value.size() != 1 || letter < 'A' || letter > 'Z') {
    return std::unexpected(ValueRefusal::NotOneDriveLetter);
  }
  return letter;
}

std::expected<CommandLine, ArgumentError> parse_command_line(
    std::span<const std::string> arguments) {
  if (arguments.empty()) return std::unexpected(ArgumentError::MissingCommand{});
  CommandLine line;
  line.command = arguments[0];

  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    std::optional<std::string>* text_option = nullptr;
    if (argument == "--image")
      text_option = &line.image;
    else if (argument == "--id")
      text_option = &line.id;
    else if (argument == "--output")
      text_option = &line.output;
    else if (argument == "--output-directory")
      text_option = &line.output_directory;
    else if (argument == "--name-prefix")
      text_option = &line.name_prefix;

    if (text_option != nullptr) {
      *text_option = take_value(arguments, i);
    } else if (argument == "--sector-size" || argument == "--physical-drive") {
      const auto value = take_value(arguments, i);
      if (!value) return std::unexpected(ArgumentError::OptionRequiresValue{argument});
      auto number = parse_u32(*value);
      if (!number)
        return std::unexpected(ArgumentError::InvalidOptionValue{argument, number.error()});
      if (argument == "--sector-size") {
        line.sector_size = *number;
      } else {
        line.physical_drive = *number;
      }
    } else if (argument == "--volume") {
      const auto value = take_value(arguments, i);
      if (!value) return std::unexpected(ArgumentError::OptionRequiresValue{argument});
      auto letter = parse_drive_letter(*value);
      if (!letter)
        return std::unexpected(ArgumentError::InvalidOptionValue{argument, letter.error()});
      line.volume = *letter;
    } else if (argument == "--no-resume") {
      line.resume = false;
    } else if (argument == "--carve") {
      line.carve = true;
    } else if (argument == "--all-directories") {
      line.all_directories = true;
    } else if (argument == "--progress") {
      line.progress = true;
    } else if (argument == "--timestamps") {
      line.timestamps = true;
    } else if (argument == "--untangle") {
      line.untangle = true;
    } else {
      return std::unexpected(ArgumentError::UnknownArgument{argument});
    }
  }
  return line;
}

namespace {

ScanOptions scan_options(const CommandLine& line) {
  ScanOptions options;
  options.all_directories = line.all_directories;
  options.carve = line.carve;
  options.timestamps = line.timestamps;
  options.untangle = line.untangle;
  return options;
}

}  // namespace

std::expected<RunnableCommand, ArgumentError> select_command(const CommandLine& line) {
  if (line.command == "devices") return DevicesCommand{};
  if (line.command == "scan") {
    KESTREL_TRY_ASSIGN(image, required(line.image, MissingOption::Image));
    return ScanCommand{*image, line.sector_size, scan_options(line)};
  }
  if (line.command == "recover") {
    KESTREL_TRY_ASSIGN(image, required(line.image, MissingOption::Image));
    KESTREL_TRY_ASSIGN(id, required(line.id, MissingOption::Id));
    KESTREL_TRY_ASSIGN(output, required(line.output, MissingOption::Output));
    return RecoverCommand{*image, *id, *output, line.sector_size, scan_options(line)};
  }
  if (line.command == "recover-all") {
    KESTREL_TRY_ASSIGN(image, required(line.image, MissingOption::Image));
    KESTREL_TRY_ASSIGN(directory, required(line.output_directory, MissingOption::OutputDirectory));
    return RecoverAllCommand{*image,           *directory,         line.name_prefix,
                             line.sector_size, scan_options(line), line.progress};
  }
  if (line.command == "image") {
    KESTREL_TRY_ASSIGN(output, required(line.output, MissingOption::Output));
    if (!line.physical_drive) {
      if (!line.volume)
        return std::unexpected(ArgumentError::OptionMissing{MissingOption::ImageSource});
      return ImageCommand{ImageSource(*line.volume), *output, line.resume};
    }
    if (line.volume) return std::unexpected(ArgumentError::ImageSourcesExclusive{});
    return ImageCommand{ImageSource(*line.physical_drive), *output, line.resume};
  }
  return std::unexpected(ArgumentError::UnknownCommand{});
}

}  // namespace kestrel
