#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kestrel {

enum class FileKind {
  Jpeg,
  Png,
  Bmp,
  Tiff,
  Gif,
  Pdf,
  ZipContainer,
  Heic,
  Mp4,
  Avi,
  Wav,
  Webp,
  Dwg,
  OleCompound,
  Sqlite,
};

std::string_view file_kind_name(FileKind kind);

// The kind whose signature the bytes begin with. When several could match,
// the order of the checks in the .cpp decides.
std::optional<FileKind> detect_content_kind(std::span<const std::uint8_t> bytes);

// The kind a name's extension stands for (ASCII letters compared without case).
std::optional<FileKind> kind_from_extension(std::string_view name);

}  // namespace kestrel
