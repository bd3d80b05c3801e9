#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "recovery-core/content/file_end/file_area.hpp"
#include "recovery-core/errors/recovery_error.hpp"

// A JPEG is a chain of markers: 0xFF and a marker byte, then for most a
// segment whose two-byte length (which counts itself) steps over its body, an
// embedded thumbnail's own SOI and EOI included. Fill bytes of 0xFF may come
// before a marker, and RST0 to RST7 and TEM stand alone, without a length.
// After each SOS segment comes a scan's entropy-coded data, which the chain
// resumes after. The end rule follows the chain to EOI; the check that
// decodes the data follows the same chain, read by the same step, up to its
// first scan, and takes its tables from the segments on the way.
namespace kestrel {

// SOF0 to SOF15 (DHT, JPG and DAC excepted).
bool is_jpeg_frame_marker(std::uint8_t code);
// RST0 to RST7.
bool is_jpeg_restart_marker(std::uint8_t code);
// A marker that a length and a body follow.
bool is_jpeg_segment_marker(std::uint8_t code);
// A marker that stands alone where the chain goes on after SOI.
bool jpeg_marker_stands_alone(std::uint8_t code);

// What the area holds where the chain goes on.
struct JpegChainStep {
  std::size_t held = 0;      // bytes there, up to the four a segment's head takes
  bool marker = false;       // 0xFF and a marker byte
  std::uint8_t code = 0;     // the marker byte (0xFF: a fill byte)
  std::uint16_t length = 0;  // the segment's length field, when all four bytes are held

  bool fill() const { return marker && code == 0xFF; }
  bool has_length() const { return held >= 4; }
  // Where the chain goes on after a fill byte or a marker that stands alone.
  std::uint64_t after_alone(std::uint64_t position) const { return position + (fill() ? 1 : 2); }
  // Where it goes on after a segment.
  std::uint64_t after_segment(std::uint64_t position) const { return position + 2u + length; }
};

// From a frame segment's body (after its length): how many components it has
// and how many MCUs a scan of all of them holds (one block each for a single
// component, else each component's sampling factors' worth); nothing for a
// body too short or a frame without a height or width.
struct JpegFrameSize {
  int components = 0;
  std::uint64_t mcus = 0;
};
std::optional<JpegFrameSize> read_jpeg_frame_size(std::span<const std::uint8_t> body);

// The step at `position` (from the file's first byte).
std::expected<JpegChainStep, RecoveryError> read_jpeg_chain_step(FileArea& area,
                                                                 std::uint64_t position);

}  // namespace kestrel
