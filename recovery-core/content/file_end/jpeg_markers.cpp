#include "recovery-core/content/file_end/jpeg_markers.hpp"

#include <algorithm>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

bool is_jpeg_frame_marker(std::uint8_t code) {
  return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

bool is_jpeg_restart_marker(std::uint8_t code) { return code >= 0xD0 && code <= 0xD7; }

bool is_jpeg_segment_marker(std::uint8_t code) {
  return (code >= 0xC0 && code <= 0xCF && code != 0xC8) || (code >= 0xDA && code <= 0xDF) ||
         (code >= 0xE0 && code <= 0xEF) || (code >= 0xF0 && code <= 0xFE) || code == 0xDB;
}

bool jpeg_marker_stands_alone(std::uint8_t code) {
  return is_jpeg_restart_marker(code) || code == 0x01;
}

std::optional<JpegFrameSize> read_jpeg_frame_size(std::span<const std::uint8_t> body) {
  if (body.size() < 6) return std::nullopt;
  const std::uint64_t height = load_be<std::uint16_t>(body, 1);
  const std::uint64_t width = load_be<std::uint16_t>(body, 3);
  const int count = body[5];
  if (height == 0 || width == 0 || count < 1 || body.size() < 6 + 3 * std::size_t{body[5]})
    return std::nullopt;
  const auto ceil_div = [](std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; };
  if (count == 1) return JpegFrameSize{1, ceil_div(width, 8) * ceil_div(height, 8)};
  std::uint64_t max_h = 1;
  std::uint64_t max_v = 1;
  for (std::size_t i = 0; i < std::size_t{body[5]}; ++i) {
    const std::uint8_t factors = body[6 + 3 * i + 1];
    if ((factors >> 4) == 0 || (factors & 0x0F) == 0) return std::nullopt;
    max_h = std::max<std::uint64_t>(max_h, factors >> 4);
    max_v = std::max<std::uint64_t>(max_v, factors & 0x0F);
  }
  return JpegFrameSize{count, ceil_div(width, 8 * max_h) * ceil_div(height, 8 * max_v)};
}

std::expected<JpegChainStep, RecoveryError> read_jpeg_chain_step(FileArea& area,
                                                                 std::uint64_t position) {
  KESTREL_TRY_ASSIGN(head, area.bytes(position, 4));
  JpegChainStep step;
  step.held = head->size();
  if (step.held < 2 || (*head)[0] != 0xFF) return step;
  step.marker = true;
  step.code = (*head)[1];
  if (step.has_length()) step.length = load_be<std::uint16_t>(*head, 2);
  return step;
}

}  // namespace kestrel
