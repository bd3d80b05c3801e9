#include "recovery-core/compression/lznt1.hpp"

#include <algorithm>
#include <string>

#include "recovery-core/compression/compression_messages.hpp"

namespace kestrel {

namespace {

constexpr std::uint16_t kCompressedFlag = 0x8000;
constexpr std::uint16_t kLengthMask = 0x0FFF;

std::unexpected<RecoveryError> damaged() {
  return std::unexpected(RecoveryError::invalid_structure(std::string(kDamagedLznt1Chunk)));
}

// How a back reference's 16 bits divide between offset and length depends on
// how far into the chunk it stands: the further in, the more bits the offset
// takes.
struct TokenSplit {
  std::uint16_t length_mask = kLengthMask;
  unsigned offset_shift = 12;
};

TokenSplit token_split(std::size_t position) {
  TokenSplit split;
  for (std::size_t reach = position - 1; reach >= 0x10; reach >>= 1) {
    split.length_mask = static_cast<std::uint16_t>(split.length_mask >> 1);
    --split.offset_shift;
  }
  return split;
}

// Decodes one compressed chunk's body into `out` (at most 4 KiB); returns how
// many bytes it gave back.
std::expected<std::size_t, RecoveryError> decode_chunk(std::span<const std::uint8_t> body,
                                                       std::span<std::uint8_t> out) {
  std::size_t in = 0;
  std::size_t produced = 0;
  while (in < body.size() && produced < out.size()) {
    const std::uint8_t flags = body[in++];
    for (int bit = 0; bit < 8 && in < body.size() && produced < out.size(); ++bit) {
      if ((flags & (1U << bit)) == 0) {
        out[produced++] = body[in++];
        continue;
      }
      if (in + 2 > body.size() || produced == 0) return damaged();
      const auto token = static_cast<std::uint16_t>(body[in] | (body[in + 1] << 8));
      in += 2;
      const TokenSplit split = token_split(produced);
      const std::size_t length = (token & split.length_mask) + 3U;
      const std::size_t back = (token >> split.offset_shift) + 1U;
      if (back > produced) return damaged();
      // Byte by byte: a reference may overlap the bytes it is producing.
      for (std::size_t i = 0; i < length && produced < out.size(); ++i, ++produced) {
        out[produced] = out[produced - back];
      }
    }
  }
  return produced;
}

}  // namespace

std::expected<void, RecoveryError> decompress_lznt1(std::span<const std::uint8_t> input,
                                                    std::span<std::uint8_t> output) {
  std::fill(output.begin(), output.end(), std::uint8_t{0});
  std::size_t in = 0;
  std::size_t out = 0;
  while (in + 2 <= input.size() && out < output.size()) {
    const auto header = static_cast<std::uint16_t>(input[in] | (input[in + 1] << 8));
    if (header == 0) break;
    const std::size_t body_length = (header & kLengthMask) + 1U;
    in += 2;
    if (body_length > input.size() - in) return damaged();
    const auto body = input.subspan(in, body_length);
    const auto room = output.subspan(out, std::min(kLznt1ChunkBytes, output.size() - out));
    if ((header & kCompressedFlag) != 0) {
      if (auto decoded = decode_chunk(body, room); !decoded)
        return std::unexpected(decoded.error());
    } else {
      std::copy_n(body.begin(), std::min(body.size(), room.size()), room.begin());
    }
    in += body_length;
    out += room.size();
  }
  return {};
}

}  // namespace kestrel
