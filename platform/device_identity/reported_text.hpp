#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// The form in which a text a device or a volume reports (vendor, product,
// serial number, label, file system) enters a description: up to its first
// NUL, decoded as UTF-8 with invalid sequences replaced, trimmed of white
// space. Nothing when no text is left.
std::optional<std::string> reported_text(std::optional<std::string_view> raw);

}  // namespace kestrel
