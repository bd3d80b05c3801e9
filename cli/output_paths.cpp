#include "cli/output_paths.hpp"

#include "cli/output_name_length.hpp"
#include "os/file_system.hpp"
#include "os/path_split.hpp"
#include "recovery-core/text/unicode.hpp"

namespace kestrel {

namespace {

bool metadata_readable(const std::filesystem::path& path) {
  return read_metadata(path).has_value();
}

struct StemAndExtension {
  std::string stem;
  std::optional<std::string> extension;  // absent when there is none or it is empty
};

StemAndExtension split_name(const std::string& name) {
  const std::filesystem::path path = path_from_text(name);
  StemAndExtension parts;
  if (name == "." || name == "..") {
    parts.stem = kFallbackOutputStem;
    return parts;
  }
  parts.stem = path_display(path.stem());
  if (parts.stem.empty()) parts.stem = kFallbackOutputStem;
  const std::string extension = path_display(path.extension());  // with its dot
  if (extension.size() > 1) parts.extension = extension.substr(1);
  return parts;
}

}  // namespace

DestinationParts split_destination(const std::filesystem::path& destination) {
  using Char = std::filesystem::path::value_type;
  const auto split =
      split_final_component(std::basic_string_view<Char>(destination.native()), kNativePathRules);
  DestinationParts parts;
  parts.parent =
      split.parent.empty() ? std::filesystem::path(".") : std::filesystem::path(split.parent);
  if (split.file_name) parts.file_name = std::filesystem::path(*split.file_name);
  return parts;
}

std::expected<void, CommandError> check_distinct_paths(const std::filesystem::path& image,
                                                       const std::filesystem::path& destination) {
  return DistinctPathCheck(image).check(destination);
}

std::expected<void, CommandError> DistinctPathCheck::check(
    const std::filesystem::path& destination) {
  if (!resolved_image_) {
    auto resolved = canonical_path(image_);
    if (!resolved) return std::unexpected(resolved.error().io_failure());
    resolved_image_ = std::move(*resolved);
  }
  const DestinationParts parts = split_destination(destination);
  auto parent = resolved_parents_.find(parts.parent);
  if (parent == resolved_parents_.end()) {
    auto resolved = canonical_path(parts.parent);
    if (!resolved) return std::unexpected(resolved.error().io_failure());
    parent = resolved_parents_.emplace(parts.parent, std::move(*resolved)).first;
  }
  if (!parts.file_name) return std::unexpected(CommandError::OutputWithoutFileName{});
  if (parent->second / *parts.file_name == *resolved_image_) {
    return std::unexpected(CommandError::OutputIsImage{});
  }
  return {};
}

std::string sanitize_output_name(std::string_view name) {
  std::string safe(name);
  for (char& c : safe) {
    switch (c) {
      case '"':
      case '*':
      case '/':
      case ':':
      case '<':
      case '>':
      case '?':
      case '\\':
      case '|':
      case '\0':
        c = '_';
        break;
      default:
        break;
    }
  }
  return safe;
}

namespace {

// The name itself when the destination holds it, else its stem shortened in
// front of its extension.
std::string shorten_output_name(const std::string& name) {
  if (output_name_length(name) <= kMaxOutputNameLength) return name;
  const StemAndExtension parts = split_name(name);
  if (!parts.extension) return fit_output_name(name, "");
  return fit_output_name(parts.stem, "." + *parts.extension);
}

}  // namespace

std::expected<std::filesystem::path, CommandError> OutputPathChooser::choose(
    std::string_view candidate_name) {
  std::string name = sanitize_output_name(candidate_name);
  if (trim_unicode_white_space(name).empty()) name = kFallbackOutputName;
  name = shorten_output_name(name);
  std::filesystem::path path = directory_ / path_from_text(name);
  if (!metadata_readable(path)) return path;

  const StemAndExtension parts = split_name(name);
  std::uint32_t& first = first_counter_to_test_.try_emplace(name, 1).first->second;
  for (std::uint32_t counter = first; counter <= kMaxOutputNameCounter; ++counter) {
    std::string tail = "-recovered-" + std::to_string(counter);
    if (parts.extension) tail += "." + *parts.extension;
    path = directory_ / path_from_text(fit_output_name(parts.stem, tail));
    if (!metadata_readable(path)) {
      // Numbers below this one were taken; this one is tested again next
      // time, since its file may not come into being.
      first = counter;
      return path;
    }
  }
  first = kMaxOutputNameCounter + 1;
  return std::unexpected(CommandError::NoFreeOutputName{});
}

std::expected<std::filesystem::path, CommandError> choose_output_path(
    const std::filesystem::path& directory, std::string_view candidate_name) {
  return OutputPathChooser(directory).choose(candidate_name);
}

}  // namespace kestrel
