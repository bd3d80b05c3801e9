#include "cli/error_line.hpp"

#include "cli/cli_messages.hpp"

namespace kestrel {

namespace {

void append_escape(std::string& out, unsigned char c) {
  switch (c) {
    case '\b':
      out += "\\b";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\r':
      out += "\\r";
      return;
    default:
      break;
  }
  constexpr char kHexDigits[] = "0123456789abcdef";
  out += "\\u00";
  out.push_back(kHexDigits[c >> 4]);
  out.push_back(kHexDigits[c & 0x0F]);
}

// The length of the usage block with the line feed before it, when the text
// ends with them; else 0.
std::size_t usage_suffix_length(std::string_view text) {
  const std::string_view usage = cli_messages::kUsageBlock;
  if (text.size() <= usage.size() || !text.ends_with(usage)) return 0;
  if (text[text.size() - usage.size() - 1] != '\n') return 0;
  return usage.size() + 1;
}

}  // namespace

std::string escape_error_message(std::string_view message) {
  std::string escaped;
  escaped.reserve(message.size());
  for (const char c : message) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      append_escape(escaped, byte);
    } else {
      escaped.push_back(c);
    }
  }
  return escaped;
}

std::string error_line(std::string_view error_text) {
  const std::size_t usage_length = usage_suffix_length(error_text);
  const std::string_view message = error_text.substr(0, error_text.size() - usage_length);
  std::string line = "KESTREL_ERROR=" + escape_error_message(message);
  line.append(error_text.substr(message.size()));
  line.push_back('\n');
  return line;
}

}  // namespace kestrel
