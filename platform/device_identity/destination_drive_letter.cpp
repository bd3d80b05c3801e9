#include "platform/device_identity/destination_drive_letter.hpp"

#include "recovery-core/text/utf8.hpp"

namespace kestrel {

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::optional<char32_t> destination_drive_letter(std::string_view path_text) {
  std::string_view rest = path_text;
  if (rest.size() >= 4 && is_separator(rest[0]) && is_separator(rest[1]) &&
      (rest[2] == '?' || rest[2] == '.') && is_separator(rest[3])) {
    rest.remove_prefix(4);
  }
  // Characters, not bytes: a first character of several bytes before the
  // colon is still the one that names the volume.
  const std::u32string characters = utf8_to_code_points(rest);
  if (characters.size() >= 2 && characters[1] == U':') return characters[0];
  return std::nullopt;
}

}  // namespace kestrel
