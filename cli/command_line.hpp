#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "recovery-core/scan/scan_options.hpp"

namespace kestrel {

// The command word and every option, as read from the arguments. All options
// exist for every command; a command ignores those it does not use.
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
  bool carve = false;  // --carve: also search free space by content
};

// The runnable forms a validated command line becomes.
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

// The usage block: "usage:" and the five command lines, joined by line feeds,
// with no line feed after the last.
std::string_view usage_block();

// Reads the arguments after the program name. Errors carry the usage block.
std::expected<CommandLine, std::string> parse_command_line(std::span<const std::string> arguments);

// Checks that the command has what it needs, in the fixed order, and gives its
// runnable form. Errors carry the usage block.
std::expected<RunnableCommand, std::string> select_command(const CommandLine& line);

// "invalid digit found in string" and friends: parses an unsigned 32-bit decimal
// number with an optional leading plus sign.
std::expected<std::uint32_t, std::string> parse_u32(std::string_view text);

// A drive letter value: trailing ":" removed, one ASCII letter, upper-cased.
std::expected<char, std::string> parse_drive_letter(std::string_view text);

}  // namespace kestrel
