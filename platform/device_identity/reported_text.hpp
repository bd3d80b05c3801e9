#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// The form in which a text a device or a volume reports (vendor, product,
// serial number, label, file system) enters a description: cut at its first
// NUL, read as UTF-8 (what is not UTF-8 becomes U+FFFD), white space trimmed.
// Nothing when no text is left.
std::optional<std::string> reported_text(std::optional<std::string_view> raw);

}  // namespace kestrel
