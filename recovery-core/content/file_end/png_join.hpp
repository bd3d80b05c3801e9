#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "recovery-core/content/file_end/area_reader.hpp"
#include "recovery-core/content/file_end/file_area.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// The chunk of a PNG in which its bytes stop being its own: where the chunk
// starts (from the file's first byte) and its data length, from a header that
// still lies in the piece before the break.
struct PngCutChunk {
  std::uint64_t position = 0;
  std::uint32_t length = 0;

  // Where the next chunk's header starts, and where this one's CRC-32 lies.
  std::uint64_t end() const { return position + 12 + std::uint64_t{length}; }
  std::uint64_t crc_position() const { return end() - 4; }
};

// Whether 8 bytes can start a chunk: a length within the format's limit and
// a type of four letters.
bool can_start_png_chunk(std::span<const std::uint8_t> header);

// The chunk whose header is at `position` of `file`, when that header is whole
// there and can start a chunk.
std::expected<std::optional<PngCutChunk>, RecoveryError> png_chunk_at(FileArea& file,
                                                                      std::uint64_t position);

// The unit starts `at` between the chunk's header and its CRC-32 (from the
// file's first byte), latest first, at which the chunk's CRC-32 holds when its
// bytes before `at` are those `file` holds and its bytes from `at` on (with
// the CRC itself) lie in the source `shift` bytes past the file position:
// the places a next piece starting at `shift + at` can join it. Each byte is
// read once; the CRCs of the parts after every join are combined.
std::expected<std::vector<std::uint64_t>, RecoveryError> png_joins_with_crc(
    FileArea& file, AreaReader& reader, const PngCutChunk& chunk, std::uint64_t shift,
    std::uint64_t limit);

}  // namespace kestrel
