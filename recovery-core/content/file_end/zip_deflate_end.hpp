#pragma once

#include <cstdint>
#include <expected>

#include "recovery-core/content/file_end/file_area.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// Where a member's deflated data ends when nothing before it says so (its
// sizes follow the data): the data is inflated up to the end of its last
// block. A package that broke off inside the member stops inflating after the
// break: random bytes, another file's middle and text soon hold a code the
// stream's tables lack, or a stored block's length that does not check. A
// whole unit of zeros, which many streams would read on as one code over and
// over, stops the inflating too: it is where the data broke off, unless the
// member's data is itself mostly zeros, as a deflated run of one byte is.
struct DeflateEnd {
  enum class Stop {
    Ended,    // the stream ended at `position`
    Broken,   // the data stops being this stream's at `position`
    Unended,  // still inflating where the area ends
    Bounded,  // still inflating at `position` when the bound on the output was reached
    Zeros,    // a whole unit of zeros starts at `position`
  };
  Stop stop = Stop::Unended;
  std::uint64_t position = 0;  // from the file's first byte
  std::uint32_t crc = 0;       // of the bytes inflated, when it ended
  std::uint64_t unpacked = 0;
};

// The deflated data that starts at `from`; at most 64 MiB are inflated, and
// past the first MiB at most 256 bytes for each byte of the data.
std::expected<DeflateEnd, RecoveryError> find_deflate_end(FileArea& area, std::uint64_t from);

}  // namespace kestrel
