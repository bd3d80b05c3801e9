#pragma once

#include <expected>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/json/json_value.hpp"

namespace kestrel {

// Renders a document in the one layout of every JSON text the tool writes:
// two-space indentation, one member or element per line, ": " after a name,
// "{}" and "[]" for empty containers, no line feed after the last bracket.
// Strings escape only the quotation mark, the backslash and U+0000..U+001F
// (\b \t \n \f \r, the rest as lower-case \u00xx); "/", U+007F and non-ASCII
// text are written as they are. Invalid UTF-8 (which the records never hold,
// since their text is decoded lossily) is replaced rather than failing.
// A failure is the RenderFailed kind with the JSON writer's own text.
std::expected<std::string, RecoveryError> render_json(const JsonValue& document);

// The JSON value of optional data: null when absent.
template <typename T>
JsonValue json_or_null(const std::optional<T>& value) {
  return value ? JsonValue(*value) : JsonValue(nullptr);
}

}  // namespace kestrel
