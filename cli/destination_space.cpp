#include "cli/destination_space.hpp"

#include <string_view>

#include "os/path_split.hpp"

namespace kestrel {

std::filesystem::path parent_directory(const std::filesystem::path& path) {
  using Char = std::filesystem::path::value_type;
  const std::basic_string_view<Char> text(path.native());
  const auto split = split_final_component(text, kNativePathRules);
  if (!split.parent.empty()) return std::filesystem::path(split.parent);
  const PathRoot root = path_root(text, kNativePathRules);
  if (root.length > 0)
    return std::filesystem::path(std::basic_string<Char>(text.substr(0, root.length)));
  return std::filesystem::path(".");
}

std::expected<void, CommandError> check_room_for(DevicePlatform& platform,
                                                 const std::filesystem::path& destination,
                                                 std::uint64_t required) {
  if (required == 0) return {};
  auto available = platform.available_space(parent_directory(destination));
  if (!available) return std::unexpected(available.error().io_failure());
  if (required > *available)
    return std::unexpected(CommandError::InsufficientSpace{*available, required});
  return {};
}

}  // namespace kestrel
