#include <string_view>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/content_messages.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/errors/error_propagation.hpp"

// A RIFF file (WAV, AVI, WEBP) says its size in its header: 8 bytes plus the
// size field. It is checked when the chunks inside (an id and a size each, the
// data padded to an even length) fill exactly that size.
namespace kestrel {

namespace {

constexpr std::uint64_t kHeaderBytes = 12;
constexpr std::uint64_t kMaxChunks = 1u << 20;

std::string_view extension_for_form(std::span<const std::uint8_t> form) {
  if (holds_text(form, 0, "AVI ")) return "avi";
  if (holds_text(form, 0, "WEBP")) return "webp";
  return "wav";
}

bool is_chunk_id(std::span<const std::uint8_t> id) {
  for (const std::uint8_t c : id) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// Whether the chunks from the header to `end` fill it exactly.
std::expected<bool, RecoveryError> chunks_fill(FileArea& area, std::uint64_t end) {
  std::uint64_t position = kHeaderBytes;
  for (std::uint64_t chunks = 0; chunks < kMaxChunks && position + 8 <= end; ++chunks) {
    KESTREL_TRY_ASSIGN(head, area.bytes(position, 8));
    if (head->size() < 8 || !is_chunk_id(head->first(4))) return false;
    const std::uint64_t size = load_le<std::uint32_t>(*head, 4);
    position += 8 + size + (size & 1);
    // The last chunk may leave out its pad byte.
    if (position == end || (position == end + 1 && (size & 1) != 0)) return true;
  }
  return false;
}

}  // namespace

FileEndResult find_riff_end(FileArea& area) {
  KESTREL_TRY_ASSIGN(header, area.bytes(0, kHeaderBytes));
  if (header->size() < kHeaderBytes) return std::optional<FileEnd>{};
  const std::string_view extension = extension_for_form(header->subspan(8, 4));
  const std::uint64_t end = 8 + std::uint64_t{load_le<std::uint32_t>(*header, 4)};
  if (end > area.size()) return unended_end(area.size(), kHeaderBytes, extension);
  KESTREL_TRY_ASSIGN(filled, chunks_fill(area, end));
  if (!*filled)
    return FileEnd{end, kHeaderBytes, EndFinding::Unchecked, extension, kRiffUncheckedEndNote, {}};
  return checked_end(end, extension, kRiffEndNote);
}

}  // namespace kestrel
