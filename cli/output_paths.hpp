#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "cli/command_error.hpp"

namespace kestrel {

// Names used when a candidate's name cannot serve.
inline constexpr std::string_view kFallbackOutputName = "recovered-file.bin";
inline constexpr std::string_view kFallbackOutputStem = "recovered-file";
// The highest numbered alternative tried for one name.
inline constexpr std::uint32_t kMaxOutputNameCounter = 9999;

// A destination split the way the platform's path rules see it: the directory
// it goes into and its final file-name component (none for paths such as "..",
// "." or "/"). Repeated separators, a trailing separator and inner "."
// components do not count.
struct DestinationParts {
  std::filesystem::path parent;  // "." when the path has none
  std::optional<std::filesystem::path> file_name;
};
DestinationParts split_destination(const std::filesystem::path& destination);

// Fails when the destination could be the image itself: both are resolved by
// the operating system (links, relative parts) and compared component by
// component, case-sensitively. The errors are the system's failure alone,
// OutputWithoutFileName or OutputIsImage.
std::expected<void, CommandError> check_distinct_paths(const std::filesystem::path& image,
                                                       const std::filesystem::path& destination);

// check_distinct_paths for the many destinations of one batch: the image and
// each destination folder are resolved once, when first needed, and kept for
// the batch; each check is then a comparison. Errors as check_distinct_paths.
class DistinctPathCheck {
 public:
  explicit DistinctPathCheck(std::filesystem::path image) : image_(std::move(image)) {}

  std::expected<void, CommandError> check(const std::filesystem::path& destination);

 private:
  std::filesystem::path image_;
  std::optional<std::filesystem::path> resolved_image_;
  std::map<std::filesystem::path, std::filesystem::path> resolved_parents_;
};

// A candidate name made safe as a file name: the quotation mark, * / : < > ?
// \ | and U+0000 each become "_"; everything else is kept.
std::string sanitize_output_name(std::string_view name);

// Picks output file names in one directory that did not exist when picked:
// the sanitised candidate name, else "{stem}-recovered-{i}.{extension}" for
// the first free i up to 9999. A name longer than the destination holds
// (output_name_length) has its stem cut at a whole character, the extension
// kept, before either is tried; a numbered name is cut the same way. It remembers, per name, the
// numbers found taken earlier in the same run, so that many candidates of one name do not test the
// same numbers over and over.
class OutputPathChooser {
 public:
  explicit OutputPathChooser(std::filesystem::path directory) : directory_(std::move(directory)) {}

  // Fails with NoFreeOutputName.
  std::expected<std::filesystem::path, CommandError> choose(std::string_view candidate_name);

 private:
  std::filesystem::path directory_;
  std::unordered_map<std::string, std::uint32_t> first_counter_to_test_;
};

// One choice in `directory` for `candidate_name` (see OutputPathChooser).
std::expected<std::filesystem::path, CommandError> choose_output_path(
    const std::filesystem::path& directory, std::string_view candidate_name);

}  // namespace kestrel
