#include "recovery-core/content/file_end/jpeg_markers.hpp"

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
