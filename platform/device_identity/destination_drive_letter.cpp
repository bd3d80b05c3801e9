#include "platform/device_identity/destination_drive_letter.hpp"

namespace kestrel {

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::optional<char> destination_drive_letter(std::string_view path_text) {
  std::string_view rest = path_text;
  if (rest.size() >= 4 && is_separator(rest[0]) && is_separator(rest[1]) && (rest[2] == '?' || rest[2] == '.') &&
      is_separator(rest[3])) {
    rest.remove_prefix(4);
  }
  if (rest.size() >= 2 && rest[1] == ':') return rest[0];
  return std::nullopt;
}

}  // namespace kestrel
