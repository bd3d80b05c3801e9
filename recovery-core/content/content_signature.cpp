#include "recovery-core/content/content_signature.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

namespace kestrel {

using namespace std::string_view_literals;

namespace {

// True when the bytes hold `pattern` at `offset`.
bool has_at(std::span<const std::uint8_t> bytes, std::size_t offset, std::string_view pattern) {
  if (offset > bytes.size() || bytes.size() - offset < pattern.size()) return false;
  return std::equal(pattern.begin(), pattern.end(),
                    bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                    [](char p, std::uint8_t b) { return static_cast<std::uint8_t>(p) == b; });
}

bool is_heif_brand(std::span<const std::uint8_t> brand) {
  if (has_at(brand, 0, "mif1") || has_at(brand, 0, "msf1")) return true;
  if (!has_at(brand, 0, "he")) return false;
  const bool second = brand[2] == 'v' || brand[2] == 'i';
  const bool third = brand[3] == 'c' || brand[3] == 'm' || brand[3] == 's' || brand[3] == 'x';
  return second && third;
}

struct ExtensionKind {
  std::string_view extension;
  FileKind kind;
};

constexpr std::array kExtensions = {
    ExtensionKind{"jpg", FileKind::Jpeg},          ExtensionKind{"jpe", FileKind::Jpeg},
    ExtensionKind{"jpeg", FileKind::Jpeg},         ExtensionKind{"png", FileKind::Png},
    ExtensionKind{"bmp", FileKind::Bmp},           ExtensionKind{"tif", FileKind::Tiff},
    ExtensionKind{"tiff", FileKind::Tiff},         ExtensionKind{"gif", FileKind::Gif},
    ExtensionKind{"pdf", FileKind::Pdf},           ExtensionKind{"zip", FileKind::ZipContainer},
    ExtensionKind{"odt", FileKind::ZipContainer},  ExtensionKind{"ods", FileKind::ZipContainer},
    ExtensionKind{"odp", FileKind::ZipContainer},  ExtensionKind{"docx", FileKind::ZipContainer},
    ExtensionKind{"docm", FileKind::ZipContainer}, ExtensionKind{"dotx", FileKind::ZipContainer},
    ExtensionKind{"dotm", FileKind::ZipContainer}, ExtensionKind{"xlsx", FileKind::ZipContainer},
    ExtensionKind{"xlsm", FileKind::ZipContainer}, ExtensionKind{"xltx", FileKind::ZipContainer},
    ExtensionKind{"xltm", FileKind::ZipContainer}, ExtensionKind{"pptx", FileKind::ZipContainer},
    ExtensionKind{"pptm", FileKind::ZipContainer}, ExtensionKind{"potx", FileKind::ZipContainer},
    ExtensionKind{"potm", FileKind::ZipContainer}, ExtensionKind{"ppsx", FileKind::ZipContainer},
    ExtensionKind{"ppsm", FileKind::ZipContainer}, ExtensionKind{"hwpx", FileKind::ZipContainer},
    ExtensionKind{"heic", FileKind::Heic},         ExtensionKind{"heif", FileKind::Heic},
    ExtensionKind{"mp4", FileKind::Mp4},           ExtensionKind{"mov", FileKind::Mp4},
    ExtensionKind{"m4v", FileKind::Mp4},           ExtensionKind{"m4a", FileKind::Mp4},
    ExtensionKind{"avi", FileKind::Avi},           ExtensionKind{"wav", FileKind::Wav},
    ExtensionKind{"webp", FileKind::Webp},         ExtensionKind{"dwg", FileKind::Dwg},
    ExtensionKind{"doc", FileKind::OleCompound},   ExtensionKind{"xls", FileKind::OleCompound},
    ExtensionKind{"ppt", FileKind::OleCompound},   ExtensionKind{"msg", FileKind::OleCompound},
    ExtensionKind{"msi", FileKind::OleCompound},   ExtensionKind{"hwp", FileKind::OleCompound},
    ExtensionKind{"sqlite", FileKind::Sqlite},     ExtensionKind{"sqlite3", FileKind::Sqlite},
};

}  // namespace

std::string_view file_kind_name(FileKind kind) {
  switch (kind) {
    case FileKind::Jpeg:
      return "jpeg";
    case FileKind::Png:
      return "png";
    case FileKind::Bmp:
      return "bmp";
    case FileKind::Tiff:
      return "tiff";
    case FileKind::Gif:
      return "gif";
    case FileKind::Pdf:
      return "pdf";
    case FileKind::ZipContainer:
      return "zip-container";
    case FileKind::Heic:
      return "heic";
    case FileKind::Mp4:
      return "mp4";
    case FileKind::Avi:
      return "avi";
    case FileKind::Wav:
      return "wav";
    case FileKind::Webp:
      return "webp";
    case FileKind::Dwg:
      return "dwg";
    case FileKind::OleCompound:
      return "ole-compound";
    case FileKind::Sqlite:
      return "sqlite";
  }
  return {};
}

std::optional<FileKind> detect_content_kind(std::span<const std::uint8_t> bytes) {
  const std::size_t n = bytes.size();
  if (n < 3) {
    if (n == 2 && has_at(bytes, 0, "BM")) return FileKind::Bmp;
    return std::nullopt;
  }
  if (has_at(bytes, 0, "\xFF\xD8\xFF"sv)) return FileKind::Jpeg;
  if (has_at(bytes, 0, "\x89PNG\r\n\x1A\n"sv)) return FileKind::Png;
  if (has_at(bytes, 0, "BM")) return FileKind::Bmp;
  if (n == 3) return std::nullopt;
  if (has_at(bytes, 0, "II*\0"sv) || has_at(bytes, 0, "MM\0*"sv)) return FileKind::Tiff;
  if (has_at(bytes, 0, "GIF87a") || has_at(bytes, 0, "GIF89a")) return FileKind::Gif;
  if (has_at(bytes, 0, "%PDF-")) return FileKind::Pdf;
  if (has_at(bytes, 0, "PK\x03\x04"sv) || has_at(bytes, 0, "PK\x05\x06"sv) ||
      has_at(bytes, 0, "PK\x07\x08"sv)) {
    return FileKind::ZipContainer;
  }
  if (has_at(bytes, 4, "ftyp")) {
    if (n >= 12 && is_heif_brand(bytes.subspan(8, 4))) return FileKind::Heic;
    return FileKind::Mp4;
  }
  if (n >= 12 && has_at(bytes, 0, "RIFF")) {
    if (has_at(bytes, 8, "AVI ")) return FileKind::Avi;
    if (has_at(bytes, 8, "WAVE")) return FileKind::Wav;
    if (has_at(bytes, 8, "WEBP")) return FileKind::Webp;
  }
  if (has_at(bytes, 0, "AC10")) return FileKind::Dwg;
  if (n < 8) return std::nullopt;
  if (has_at(bytes, 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv)) return FileKind::OleCompound;
  if (has_at(bytes, 0, "SQLite format 3\0"sv)) return FileKind::Sqlite;
  return std::nullopt;
}

std::optional<FileKind> kind_from_extension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == name.size()) return std::nullopt;
  std::string extension(name.substr(dot + 1));
  // Only ASCII letters fold; any other byte keeps the extension from matching.
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const ExtensionKind& entry : kExtensions) {
    if (entry.extension == extension) return entry.kind;
  }
  return std::nullopt;
}

}  // namespace kestrel
