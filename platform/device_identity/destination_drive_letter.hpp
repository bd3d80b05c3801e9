#pragma once

#include <optional>
#include <string_view>

namespace kestrel {

// The drive letter an absolute Windows path names its volume by, as typed:
// "F:\dir\x.img", and the same behind the extended-length prefix
// ("\\?\F:\x.img", the form the system reports for resolved paths) or the
// device prefix ("\\.\F:\x.img"). Nothing for a share ("\\server\share\...",
// "\\?\UNC\server\share\..."), a volume named by its GUID
// ("\\?\Volume{...}\..."), or any path without a letter. The character before
// the colon is answered whatever it is (a digit, a non-ASCII letter); the
// letter rules judge it.
std::optional<char32_t> destination_drive_letter(std::string_view path_text);

}  // namespace kestrel
