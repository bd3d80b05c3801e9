#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// The message as it goes after "KESTREL_ERROR=": each control character
// (U+0000 to U+001F, U+007F) is written as a JSON-style escape (\b \t \n \f
// \r, the others as \u00xx with lower-case digits), so that nothing a path,
// an id or an argument brings into a message can end the line early or start
// a second one. Every other byte, the backslash included, is left as it is,
// so a message without control characters is unchanged.
std::string escape_error_message(std::string_view message);

// The whole error output of a failed run: "KESTREL_ERROR=", the escaped
// message and a final line feed. The text of an argument error ends with a
// line feed and the usage block; those are written as they are, after the
// escaped message.
std::string error_line(std::string_view error_text);

}  // namespace kestrel
