#include "recovery-core/content/file_end/png_join.hpp"

#include <zlib.h>

#include <algorithm>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

constexpr std::uint32_t kMaxChunkLength = 0x7FFFFFFF;  // the format's own limit

bool is_letter(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::uint32_t crc_of(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint32_t>(crc32(crc, bytes.data(), static_cast<uInt>(bytes.size())));
}

// `second_length` is within a chunk the join search reads (16 MiB at most),
// so it fits zlib's offset type on every platform.
std::uint32_t combined(std::uint32_t first, std::uint32_t second, std::uint64_t second_length) {
  return static_cast<std::uint32_t>(
      crc32_combine(first, second, static_cast<z_off_t>(second_length)));
}

// The CRC-32 of `file`'s bytes from `from` up to each of `ats` (ascending).
std::expected<std::vector<std::uint32_t>, RecoveryError> crcs_up_to(
    FileArea& file, std::uint64_t from, const std::vector<std::uint64_t>& ats) {
  std::vector<std::uint32_t> crcs;
  crcs.reserve(ats.size());
  std::uint32_t crc = crc_of(0, {});
  std::uint64_t position = from;
  for (const std::uint64_t at : ats) {
    while (position < at) {
      KESTREL_TRY_ASSIGN(seen, file.bytes(position, static_cast<std::size_t>(at - position)));
      if (seen->empty()) return crcs;  // the file's bytes end: no later join holds
      crc = crc_of(crc, *seen);
      position += seen->size();
    }
    crcs.push_back(crc);
  }
  return crcs;
}

}  // namespace

bool can_start_png_chunk(std::span<const std::uint8_t> header) {
  return header.size() >= 8 && load_be<std::uint32_t>(header, 0) <= kMaxChunkLength &&
         std::all_of(header.begin() + 4, header.begin() + 8, is_letter);
}

std::expected<std::optional<PngCutChunk>, RecoveryError> png_chunk_at(FileArea& file,
                                                                      std::uint64_t position) {
  KESTREL_TRY_ASSIGN(header, file.bytes(position, 8));
  if (!can_start_png_chunk(*header)) return std::optional<PngCutChunk>{};
  return PngCutChunk{position, load_be<std::uint32_t>(*header, 0)};
}

std::expected<std::vector<std::uint64_t>, RecoveryError> png_joins_with_crc(
    FileArea& file, AreaReader& reader, const PngCutChunk& chunk, std::uint64_t shift,
    std::uint64_t limit) {
  std::vector<std::uint64_t> ats;
  const std::uint64_t crc_at = chunk.crc_position();
  for (std::uint64_t at = file.unit_start_from(chunk.position + 9); at <= crc_at;
       at += file.unit()) {
    ats.push_back(at);
  }
  if (ats.empty() || shift + chunk.end() > limit) return std::vector<std::uint64_t>{};
  KESTREL_TRY_ASSIGN(before, crcs_up_to(file, chunk.position + 4, ats));
  // The parts after each join, from the last back: each unit's CRC once,
  // then combined with the part after it.
  std::vector<std::uint32_t> after(ats.size());
  std::uint32_t rest = crc_of(0, {});
  std::uint64_t rest_from = crc_at;
  for (std::size_t i = ats.size(); i-- > 0;) {
    std::uint32_t part = crc_of(0, {});
    for (std::uint64_t position = ats[i]; position < rest_from;) {
      KESTREL_TRY_ASSIGN(seen, reader.view(shift + position,
                                           static_cast<std::size_t>(rest_from - position), limit));
      if (seen->empty()) return std::vector<std::uint64_t>{};
      part = crc_of(part, *seen);
      position += seen->size();
    }
    rest = combined(part, rest, crc_at - rest_from);
    rest_from = ats[i];
    after[i] = rest;
  }
  KESTREL_TRY_ASSIGN(stored_bytes, reader.view(shift + crc_at, 4, limit));
  if (stored_bytes->size() < 4) return std::vector<std::uint64_t>{};
  const auto stored = load_be<std::uint32_t>(*stored_bytes, 0);
  std::vector<std::uint64_t> holding;
  for (std::size_t i = before->size(); i-- > 0;) {
    if (combined((*before)[i], after[i], crc_at - ats[i]) == stored) holding.push_back(ats[i]);
  }
  return holding;
}

}  // namespace kestrel
