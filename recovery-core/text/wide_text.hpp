#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// Windows' wide strings hold UTF-16 code units in wchar_t. These convert
// between them and the UTF-8 text used everywhere else.

// UTF-8 text as UTF-16 units (each invalid UTF-8 sequence becomes U+FFFD).
std::wstring wide_from_utf8(std::string_view utf8);

// UTF-16 units as UTF-8 text, each unpaired surrogate replaced by U+FFFD.
std::string utf8_from_wide_lossy(std::wstring_view wide);

// UTF-16 units as UTF-8 text; nothing when an unpaired surrogate makes the
// units something other than Unicode text.
std::optional<std::string> utf8_from_wide_strict(std::wstring_view wide);

}  // namespace kestrel
