#include "recovery-core/content/file_end/file_header.hpp"

#include "recovery-core/bytes/byte_fields.hpp"

namespace kestrel {

using namespace std::string_view_literals;

namespace {

using Bytes = std::span<const std::uint8_t>;

bool is_jpeg_header(Bytes b) {
  if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8 || b[2] != 0xFF) return false;
  const std::uint8_t marker = b[3];
  return (marker >= 0xE0 && marker <= 0xEF) || marker == 0xDB || marker == 0xC4 || marker == 0xFE ||
         marker == 0xDD || (marker >= 0xC0 && marker <= 0xCF && marker != 0xC8 && marker != 0xCC);
}

bool is_png_header(Bytes b) {
  return holds_text(b, 0, "\x89PNG\r\n\x1A\n") && load_be<std::uint32_t>(b, 8) == 13 &&
         holds_text(b, 12, "IHDR");
}

bool is_gif_header(Bytes b) { return holds_text(b, 0, "GIF87a") || holds_text(b, 0, "GIF89a"); }

bool is_bmp_header(Bytes b) {
  if (b.size() < 30 || !holds_text(b, 0, "BM")) return false;
  const auto info = load_le<std::uint32_t>(b, 14);
  const bool known_info = info == 12 || info == 40 || info == 52 || info == 56 || info == 64 ||
                          info == 108 || info == 124;
  if (!known_info || load_le<std::uint32_t>(b, 6) != 0) return false;
  const auto planes = load_le<std::uint16_t>(b, info == 12 ? 22 : 26);
  const auto bits = load_le<std::uint16_t>(b, info == 12 ? 24 : 28);
  const bool known_bits =
      bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
  return planes == 1 && known_bits;
}

bool is_pdf_header(Bytes b) {
  return holds_text(b, 0, "%PDF-") && b.size() >= 8 && b[5] >= '1' && b[5] <= '2' && b[6] == '.' &&
         b[7] >= '0' && b[7] <= '9';
}

bool is_zip_header(Bytes b) {
  if (!holds_text(b, 0, "PK\x03\x04") || b.size() < 30) return false;
  const auto needed = load_le<std::uint16_t>(b, 4);
  const auto name_length = load_le<std::uint16_t>(b, 26);
  return (needed & 0xFF) <= 63 && name_length > 0 && name_length <= 1024;
}

bool is_iso_media_header(Bytes b) {
  if (!holds_text(b, 4, "ftyp") || b.size() < 12) return false;
  const auto size = load_be<std::uint32_t>(b, 0);
  if (size < 16 || size > 4096 || size % 4 != 0) return false;
  for (std::size_t i = 8; i < 12; ++i) {
    if (b[i] < 0x20 || b[i] > 0x7E) return false;
  }
  return true;
}

bool is_riff_header(Bytes b) {
  return holds_text(b, 0, "RIFF") && load_le<std::uint32_t>(b, 4) >= 4 &&
         (holds_text(b, 8, "WAVE") || holds_text(b, 8, "AVI ") || holds_text(b, 8, "WEBP"));
}

bool is_tiff_header(Bytes b) {
  const bool little =
      holds_text(b, 0, "II*\0"sv) || holds_text(b, 0, "IIRO") || holds_text(b, 0, "IIRS");
  const bool big = holds_text(b, 0, "MM\0*"sv) || holds_text(b, 0, "MMOR");
  if (!little && !big) return false;
  const auto first_directory = little ? load_le<std::uint32_t>(b, 4) : load_be<std::uint32_t>(b, 4);
  return first_directory >= 8;
}

}  // namespace

std::optional<FileFamily> probe_file_header(std::span<const std::uint8_t> first_bytes) {
  const Bytes b = first_bytes.first(std::min(first_bytes.size(), kHeaderProbeBytes));
  if (is_jpeg_header(b)) return FileFamily::Jpeg;
  if (is_png_header(b)) return FileFamily::Png;
  if (is_gif_header(b)) return FileFamily::Gif;
  if (is_bmp_header(b)) return FileFamily::Bmp;
  if (is_pdf_header(b)) return FileFamily::Pdf;
  if (is_zip_header(b)) return FileFamily::Zip;
  if (is_iso_media_header(b)) return FileFamily::IsoMedia;
  if (is_riff_header(b)) return FileFamily::Riff;
  if (is_tiff_header(b)) return FileFamily::Tiff;
  return std::nullopt;
}

FileKind family_kind(FileFamily family) {
  switch (family) {
    case FileFamily::Jpeg:
      return FileKind::Jpeg;
    case FileFamily::Png:
      return FileKind::Png;
    case FileFamily::Gif:
      return FileKind::Gif;
    case FileFamily::Bmp:
      return FileKind::Bmp;
    case FileFamily::Pdf:
      return FileKind::Pdf;
    case FileFamily::Zip:
      return FileKind::ZipContainer;
    case FileFamily::IsoMedia:
      return FileKind::Mp4;
    case FileFamily::Riff:
      return FileKind::Wav;
    case FileFamily::Tiff:
      return FileKind::Tiff;
  }
  return FileKind::Tiff;
}

FileEndResult find_file_end(FileFamily family, FileArea& area) {
  switch (family) {
    case FileFamily::Jpeg:
      return find_jpeg_end(area);
    case FileFamily::Png:
      return find_png_end(area);
    case FileFamily::Gif:
      return find_gif_end(area);
    case FileFamily::Bmp:
      return find_bmp_end(area);
    case FileFamily::Pdf:
      return find_pdf_end(area);
    case FileFamily::Zip:
      return find_zip_end(area);
    case FileFamily::IsoMedia:
      return find_iso_media_end(area);
    case FileFamily::Riff:
      return find_riff_end(area);
    case FileFamily::Tiff:
      return find_tiff_end(area);
  }
  return std::optional<FileEnd>{};
}

}  // namespace kestrel
