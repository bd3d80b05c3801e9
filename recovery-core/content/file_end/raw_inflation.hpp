#pragma once

#include <zlib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrel {

// A raw deflate stream (a ZIP member's data) inflated piece by piece: what
// comes out is counted and its CRC-32 kept, the bytes themselves are not.
class RawInflation {
 public:
  // Past `most_out` bytes out the stream is over its bound; with an
  // `expansion`, also once past `ratio_free` bytes out more than that many
  // bytes came out per byte taken in.
  struct Bound {
    std::uint64_t most_out = 0;
    std::uint64_t ratio_free = 0;
    std::uint64_t expansion = 0;
  };

  explicit RawInflation(Bound bound);
  RawInflation(const RawInflation&) = delete;
  RawInflation& operator=(const RawInflation&) = delete;
  ~RawInflation();

  // False when zlib could not set the stream up.
  bool ready() const { return ready_; }
  // Inflates `input`; how many of its bytes the stream took, up to where it
  // ended, failed or went over its bound.
  std::size_t feed(std::span<const std::uint8_t> input);

  bool ended() const { return status_ == Z_STREAM_END; }
  bool failed() const { return status_ != Z_OK && status_ != Z_STREAM_END; }
  bool over_bound() const { return over_bound_; }
  std::uint32_t crc() const { return static_cast<std::uint32_t>(crc_); }
  std::uint64_t produced() const { return produced_; }

 private:
  Bound bound_;
  z_stream stream_{};
  bool ready_ = false;
  int status_ = Z_OK;
  bool over_bound_ = false;
  uLong crc_ = crc32(0L, Z_NULL, 0);
  std::uint64_t produced_ = 0;
  std::array<std::uint8_t, 32u << 10> out_{};
};

}  // namespace kestrel
