#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/content_dates/content_dates.hpp"

namespace kestrel {

namespace {

// The Exif segment comes among the first segments, each at most 64 KiB long.
constexpr std::size_t kHeadBytes = 256u << 10;
constexpr std::uint8_t kApp1 = 0xE1;
constexpr std::uint8_t kStartOfScan = 0xDA;
constexpr std::uint8_t kEndOfImage = 0xD9;

bool stands_alone(std::uint8_t marker) {
  return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

}  // namespace

// Follows the segments from SOI to the first Exif APP1 segment, stopping at
// the start of the entropy-coded data or where the head read ends.
std::optional<ContentDates> jpeg_content_dates(ContentBytes& bytes) {
  const auto head = bytes.read(0, kHeadBytes);
  if (!head) return std::nullopt;
  const std::span<const std::uint8_t> b(*head);
  if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8) return std::nullopt;
  std::size_t at = 2;
  while (at + 4 <= b.size()) {
    if (b[at] != 0xFF) return std::nullopt;
    const std::uint8_t marker = b[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == kStartOfScan || marker == kEndOfImage) return std::nullopt;
    if (stands_alone(marker)) {
      at += 2;
      continue;
    }
    const std::size_t length = load_be<std::uint16_t>(b, at + 2);
    if (length < 2 || b.size() - (at + 2) < length) return std::nullopt;
    const auto payload = b.subspan(at + 4, length - 2);
    if (marker == kApp1 && holds_text(payload, 0, std::string_view("Exif\0\0", 6)))
      return exif_dates(payload.subspan(6));
    at += 2 + length;
  }
  return std::nullopt;
}

}  // namespace kestrel
