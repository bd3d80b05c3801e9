#pragma once

#include <cstdint>

namespace kestrel {

// How a run copies. The image command asks for 1 MiB chunks, two retries, the
// sector fallback, and resuming unless told --no-resume.
struct ImagingOptions {
  std::uint64_t chunk_size = 1048576;  // one read and one write; whole sectors
  std::uint8_t read_retries = 2;       // immediate repeats of a failed read, chunk or sector
  bool resume = true;                  // an output that exists may be continued
  bool sector_fallback = true;         // a chunk that stays unreadable is retaken sector by sector
};

}  // namespace kestrel
