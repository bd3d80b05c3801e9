#include "cli/output_name_length.hpp"

namespace kestrel {

namespace {

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The bytes of the character starting at `at`: its lead byte and the
// continuation bytes after it (at most three).
std::size_t character_bytes(std::string_view text, std::size_t at) {
  std::size_t end = at + 1;
  while (end < text.size() && end - at < 4 && is_continuation(text[end])) ++end;
  return end - at;
}

// The length of one character of `bytes` UTF-8 bytes as the destination counts it.
std::size_t character_length(std::size_t bytes) {
#ifdef _WIN32
  return bytes == 4 ? 2 : 1;
#else
  return bytes;
#endif
}

// The bytes of the longest run of whole characters at the start of `text` whose
// length is at most `room`.
std::size_t prefix_within(std::string_view text, std::size_t room) {
  std::size_t at = 0;
  std::size_t length = 0;
  while (at < text.size()) {
    const std::size_t bytes = character_bytes(text, at);
    if (length + character_length(bytes) > room) break;
    length += character_length(bytes);
    at += bytes;
  }
  return at;
}

}  // namespace

std::size_t output_name_length(std::string_view name) {
  std::size_t length = 0;
  for (std::size_t at = 0; at < name.size(); at += character_bytes(name, at)) {
    length += character_length(character_bytes(name, at));
  }
  return length;
}

std::string fit_output_name(std::string_view stem, std::string_view tail) {
  const std::size_t tail_length = output_name_length(tail);
  if (tail_length + output_name_length(stem) <= kMaxOutputNameLength)
    return std::string(stem) + std::string(tail);
  // The stem keeps at least one character, or the tail goes.
  if (tail_length + 4 > kMaxOutputNameLength) {
    const std::string whole = std::string(stem) + std::string(tail);
    return whole.substr(0, prefix_within(whole, kMaxOutputNameLength));
  }
  return std::string(stem.substr(0, prefix_within(stem, kMaxOutputNameLength - tail_length))) +
         std::string(tail);
}

}  // namespace kestrel
