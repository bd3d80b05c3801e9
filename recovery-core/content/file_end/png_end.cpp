#include <zlib.h>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/content_messages.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/errors/error_propagation.hpp"

// A PNG is its 8-byte signature and a chain of chunks (length, type, data,
// CRC-32 of type and data) that begins with IHDR and ends with IEND. Every
// CRC is checked; the first that fails ends the valid part before its chunk.
namespace kestrel {

namespace {

constexpr std::string_view kExtension = "png";
constexpr std::uint64_t kSignatureBytes = 8;
constexpr std::uint32_t kMaxChunkLength = 0x7FFFFFFF;  // the format's own limit
constexpr int kMaxChunks = 1 << 20;

bool is_chunk_type(std::span<const std::uint8_t> type) {
  for (const std::uint8_t c : type) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  }
  return true;
}

enum class ChunkCheck { Good, Bad, PastArea };

// Checks the CRC of the chunk at `position` with `length` data bytes.
std::expected<ChunkCheck, RecoveryError> check_chunk(FileArea& area, std::uint64_t position,
                                                     std::uint32_t length) {
  const std::uint64_t crc_position = position + 8 + length;
  if (crc_position + 4 > area.size()) return ChunkCheck::PastArea;
  uLong crc = crc32(0L, Z_NULL, 0);
  auto walked = area.walk(
      position + 4, crc_position,
      [&](std::uint64_t, std::span<const std::uint8_t> piece) -> std::optional<std::uint64_t> {
        crc = crc32(crc, piece.data(), static_cast<uInt>(piece.size()));
        return std::nullopt;
      });
  if (!walked) return std::unexpected(walked.error());
  if (walked->position != crc_position) return ChunkCheck::Bad;  // another file's header inside
  KESTREL_TRY_ASSIGN(stored, area.bytes(crc_position, 4));
  return load_be<std::uint32_t>(*stored, 0) == static_cast<std::uint32_t>(crc) ? ChunkCheck::Good
                                                                               : ChunkCheck::Bad;
}

}  // namespace

FileEndResult find_png_end(FileArea& area) {
  std::uint64_t position = kSignatureBytes;
  for (int chunks = 0; chunks < kMaxChunks; ++chunks) {
    KESTREL_TRY_ASSIGN(head, area.bytes(position, 8));
    const bool first = chunks == 0;
    if (head->size() < 8)
      return first ? std::optional<FileEnd>{} : unended_end(area.size(), position, kExtension);
    const auto length = load_be<std::uint32_t>(*head, 0);
    const auto type = head->subspan(4, 4);
    if (length > kMaxChunkLength || !is_chunk_type(type) ||
        (first && !holds_text(type, 0, "IHDR"))) {
      return first ? std::optional<FileEnd>{} : broken_end(position, kExtension);
    }
    const bool last = holds_text(type, 0, "IEND");
    KESTREL_TRY_ASSIGN(check, check_chunk(area, position, length));
    if (*check == ChunkCheck::PastArea) {
      return first ? std::optional<FileEnd>{} : unended_end(area.size(), position, kExtension);
    }
    if (*check == ChunkCheck::Bad)
      return first ? std::optional<FileEnd>{} : broken_end(position, kExtension);
    position += 12 + std::uint64_t{length};
    if (last) return checked_end(position, kExtension, kPngEndNote);
  }
  return broken_end(position, kExtension);
}

}  // namespace kestrel
