#pragma once

#include <functional>
#include <string_view>

namespace kestrel {

// Receives progress lines ("PROGRESS={done}/{total}", without a line feed) of
// a long operation. The command decides where they go; an empty sink drops them.
using ProgressSink = std::function<void(std::string_view line)>;

}  // namespace kestrel
