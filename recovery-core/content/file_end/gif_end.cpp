#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/content_messages.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/errors/error_propagation.hpp"

// A GIF is a header, a logical screen descriptor with an optional global
// colour table, then blocks: extensions (0x21) and images (0x2C), each made of
// sub-blocks that say their own length and end with an empty one, and finally
// the trailer byte 0x3B.
namespace kestrel {

namespace {

constexpr std::string_view kExtension = "gif";
constexpr std::uint64_t kScreenEnd = 13;  // header and logical screen descriptor
constexpr int kMaxBlocks = 1 << 20;
constexpr std::uint64_t kMaxSubBlocks = 1u << 24;

// Where a block ends: the position after it, or that it is not valid, or
// that the area ends inside it.
struct Step {
  enum Kind { Next, Invalid, PastArea } kind = Invalid;
  std::uint64_t position = 0;
};

std::uint64_t colour_table_bytes(std::uint8_t flags) {
  return (flags & 0x80) != 0 ? 3u * (2u << (flags & 0x07)) : 0;
}

std::expected<Step, RecoveryError> skip_sub_blocks(FileArea& area, std::uint64_t position) {
  for (std::uint64_t count = 0; count < kMaxSubBlocks; ++count) {
    KESTREL_TRY_ASSIGN(size, area.bytes(position, 1));
    if (size->empty()) return Step{Step::PastArea};
    position += 1 + std::uint64_t{(*size)[0]};
    if ((*size)[0] == 0) return Step{Step::Next, position};
  }
  return Step{Step::Invalid};
}

// The image block at `position` (its 0x2C byte): descriptor, local colour
// table, LZW code size, then the sub-blocks of the image data.
std::expected<Step, RecoveryError> skip_image(FileArea& area, std::uint64_t position) {
  KESTREL_TRY_ASSIGN(descriptor, area.bytes(position, 10));
  if (descriptor->size() < 10) return Step{Step::PastArea};
  const std::uint64_t code_size_at = position + 10 + colour_table_bytes((*descriptor)[9]);
  KESTREL_TRY_ASSIGN(code_size, area.bytes(code_size_at, 1));
  if (code_size->empty()) return Step{Step::PastArea};
  if ((*code_size)[0] < 1 || (*code_size)[0] > 12) return Step{Step::Invalid};
  return skip_sub_blocks(area, code_size_at + 1);
}

std::expected<Step, RecoveryError> skip_block(FileArea& area, std::uint64_t position,
                                              std::uint8_t kind) {
  if (kind == 0x2C) return skip_image(area, position);
  if (kind == 0x21) return skip_sub_blocks(area, position + 2);
  return Step{Step::Invalid};
}

}  // namespace

FileEndResult find_gif_end(FileArea& area) {
  KESTREL_TRY_ASSIGN(screen, area.bytes(0, kScreenEnd));
  if (screen->size() < kScreenEnd) return std::optional<FileEnd>{};
  std::uint64_t position = kScreenEnd + colour_table_bytes((*screen)[10]);
  bool image = false;
  for (int blocks = 0; blocks < kMaxBlocks; ++blocks) {
    KESTREL_TRY_ASSIGN(introducer, area.bytes(position, 1));
    if (introducer->empty()) return unended_end(area.size(), position, kExtension);
    const std::uint8_t kind = (*introducer)[0];
    if (kind == 0x3B) {
      return image ? checked_end(position + 1, kExtension, kGifEndNote)
                   : broken_end(position, kExtension);
    }
    KESTREL_TRY_ASSIGN(step, skip_block(area, position, kind));
    if (step->kind == Step::Invalid)
      return blocks == 0 ? std::optional<FileEnd>{} : broken_end(position, kExtension);
    if (step->kind == Step::PastArea || step->position > area.size()) {
      return unended_end(area.size(), position, kExtension);
    }
    image = image || kind == 0x2C;
    position = step->position;
  }
  return broken_end(position, kExtension);
}

}  // namespace kestrel
