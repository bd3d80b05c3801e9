#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

// The one form of every progress line: "PROGRESS={done}/{total}", both in
// decimal, without a line feed.
inline std::string progress_line(std::uint64_t done, std::uint64_t total) {
  return "PROGRESS=" + std::to_string(done) + "/" + std::to_string(total);
}

}  // namespace kestrel
