#include <cstdlib>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/content_messages.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/errors/error_propagation.hpp"

// A BMP says its own size in its file header. The size is trusted when the
// headers agree with it: the pixel data starts after the headers, and for an
// uncompressed bitmap, rows of the declared width and depth (each padded to
// four bytes) times the height fit between the data's start and the end.
namespace kestrel {

namespace {

constexpr std::string_view kExtension = "bmp";
constexpr std::uint64_t kFileHeaderBytes = 14;
// Writers may pad the end a little; more than this and the size is not the image's.
constexpr std::uint64_t kMaxTrailingBytes = 4096;

struct BmpHeader {
  std::uint64_t file_size = 0;
  std::uint64_t pixel_offset = 0;
  std::uint64_t info_size = 0;
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::uint64_t bits = 0;
  std::uint32_t compression = 0;
};

BmpHeader read_header(std::span<const std::uint8_t> b) {
  BmpHeader h;
  h.file_size = load_le<std::uint32_t>(b, 2);
  h.pixel_offset = load_le<std::uint32_t>(b, 10);
  h.info_size = load_le<std::uint32_t>(b, 14);
  if (h.info_size == 12) {
    h.width = load_le<std::uint16_t>(b, 18);
    h.height = load_le<std::uint16_t>(b, 20);
    h.bits = load_le<std::uint16_t>(b, 24);
    return h;
  }
  h.width = static_cast<std::uint64_t>(
      std::llabs(static_cast<std::int32_t>(load_le<std::uint32_t>(b, 18))));
  h.height = static_cast<std::uint64_t>(
      std::llabs(static_cast<std::int32_t>(load_le<std::uint32_t>(b, 22))));
  h.bits = load_le<std::uint16_t>(b, 28);
  h.compression = load_le<std::uint32_t>(b, 30);
  return h;
}

// Whether the pixel rows fill the space the sizes leave for them.
bool pixels_fit(const BmpHeader& h) {
  const std::uint64_t row = (h.bits * h.width + 31) / 32 * 4;
  if (h.height != 0 && row > (std::uint64_t{1} << 40) / h.height) return false;
  const std::uint64_t pixels = row * h.height;
  const std::uint64_t image_end = h.pixel_offset + pixels;
  return image_end <= h.file_size && h.file_size - image_end <= kMaxTrailingBytes;
}

}  // namespace

FileEndResult find_bmp_end(FileArea& area) {
  KESTREL_TRY_ASSIGN(bytes, area.bytes(0, 34));
  if (bytes->size() < 34) return std::optional<FileEnd>{};
  const BmpHeader h = read_header(*bytes);
  const std::uint64_t headers_end = kFileHeaderBytes + h.info_size;
  if (h.file_size < headers_end || h.pixel_offset < headers_end || h.pixel_offset > h.file_size ||
      h.width == 0 || h.height == 0) {
    return std::optional<FileEnd>{};
  }
  if (h.file_size > area.size()) return unended_end(area.size(), headers_end, kExtension);
  const bool uncompressed = h.compression == 0 || h.compression == 3 || h.compression == 6;
  if (!uncompressed)
    return FileEnd{h.file_size, headers_end,          EndFinding::Unchecked,
                   kExtension,  kBmpUncheckedEndNote, {}};
  if (!pixels_fit(h)) return std::optional<FileEnd>{};
  return checked_end(h.file_size, kExtension, kBmpEndNote);
}

}  // namespace kestrel
