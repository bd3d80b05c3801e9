#include "platform/device_identity/drive_letter.hpp"

#include <string>

#include "platform/device_messages.hpp"

namespace kestrel {

std::expected<char, SourceError> normalise_drive_letter(char32_t letter) {
  char32_t upper = letter;
  if (upper >= U'a' && upper <= U'z') upper = upper - U'a' + U'A';
  if (upper < U'A' || upper > U'Z') {
    return std::unexpected(
        SourceError::io(std::string(device_messages::kLetterNotAscii), IoErrorKind::InvalidInput));
  }
  return static_cast<char>(upper);
}

}  // namespace kestrel
