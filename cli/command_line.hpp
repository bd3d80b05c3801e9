#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "cli/argument_error.hpp"
#include "recovery-core/volume/scan_options.hpp"

namespace kestrel {

// What the arguments said, before any command looks at it: the command word
// and the value of each option (defaults where none was given). Every command
// sees every option and uses only its own.
struct CommandLine {
  std::string command;
  std::optional<std::string> image;
  std::optional<std::string> id;
  std::optional<std::string> output;
  std::optional<std::string> output_directory;
  std::optional<std::string> name_prefix;
  std::uint32_t sector_size = 512;
  std::optional<std::uint32_t> physical_drive;
  std::optional<char> volume;  // upper-case 'A'..'Z'
  bool resume = true;
  bool carve = false;            // --carve: also search free space by content
  bool all_directories = false;  // --all-directories: walk every folder (see ScanOptions)
  bool progress = false;         // --progress: recover-all reports its copying
  bool timestamps = false;       // --timestamps: candidates' dates, set on recovered files
  bool untangle = false;         // --untangle: deleted files planned around the clusters of others
};

// What a command line becomes once its command has everything it needs.
struct DevicesCommand {};
struct ScanCommand {
  std::string image;
  std::uint32_t sector_size;
  ScanOptions options;
};
struct RecoverCommand {
  std::string image;
  std::string id;
  std::string output;
  std::uint32_t sector_size;
  ScanOptions options;
};
struct RecoverAllCommand {
  std::string image;
  std::string output_directory;
  std::optional<std::string> name_prefix;
  std::uint32_t sector_size;
  ScanOptions options;
  bool progress = false;  // PROGRESS= lines on standard error while the files are copied
};
// The source of an image: a physical drive number or an upper-case volume letter.
using ImageSource = std::variant<std::uint32_t, char>;
struct ImageCommand {
  ImageSource source;
  std::string output;
  bool resume;
};
using RunnableCommand =
    std::variant<DevicesCommand, ScanCommand, RecoverCommand, RecoverAllCommand, ImageCommand>;

// The usage block that follows every argument error (cli_messages.hpp).
std::string_view usage_block();

// Reads the arguments that follow the program name: the command word first,
// then options left to right, a repeated option replacing the earlier value.
std::expected<CommandLine, ArgumentError> parse_command_line(
    std::span<const std::string> arguments);

// Matches the command word and checks its required options, the first missing
// one failing.
std::expected<RunnableCommand, ArgumentError> select_command(const CommandLine& line);

// A decimal unsigned 32-bit value, "+" allowed in front.
std::expected<std::uint32_t, ValueRefusal> parse_u32(std::string_view digits_text);

// A volume letter: any trailing colons dropped, then exactly one ASCII letter,
// returned upper-case.
std::expected<char, ValueRefusal> parse_drive_letter(std::string_view value);

}  // namespace kestrel
