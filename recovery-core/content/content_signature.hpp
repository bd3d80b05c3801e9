#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recovery-core/source/byte_source.hpp"

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

enum class Confidence { High, Medium, Low };

std::string_view file_kind_name(FileKind kind);
std::string_view confidence_name(Confidence confidence);

struct ContentCheck {
  std::vector<std::string> validation_notes;
  std::optional<FileKind> detected_kind;
  Confidence confidence = Confidence::Low;
  std::uint8_t confidence_score = 0;

  friend bool operator==(const ContentCheck&, const ContentCheck&) = default;
};

// The kind whose signature the bytes start with, by the fixed precedence.
std::optional<FileKind> detect_content_kind(std::span<const std::uint8_t> bytes);

// The kind that the name's extension promises, if any.
std::optional<FileKind> kind_from_extension(std::string_view name);

// Grades a candidate: chain note, a single read of its first min(size, 4096)
// bytes, the verdict of extension against content, and the score. Never fails:
// a read problem becomes a note.
ContentCheck check_content(ByteSource& source, std::uint64_t data_offset, std::uint64_t size,
                           std::string_view name, bool has_chain);

}  // namespace kestrel
