#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace kestrel {

// The outcome of a command this build does not provide yet: a plain failure
// that says so. Nothing is read or written.
std::expected<void, std::string> unavailable_command(std::string_view command_word);

}  // namespace kestrel
