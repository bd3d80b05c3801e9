#include <array>
#include <string_view>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/content_messages.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/content/file_end/iso_media_join.hpp"
#include "recovery-core/errors/error_propagation.hpp"

// ISO base media files (MP4, MOV, M4A, 3GP, HEIC/HEIF, AVIF) are a sequence of
// top-level boxes, each starting with its size (32 bits, or 64 bits after a
// size of 1) and its type; the first is ftyp. The file ends after the last box
// that belongs to it: the bytes after it are no top-level box (free space,
// padding) or start another file (a second ftyp). It is checked when the boxes
// that describe the media are there: moov for a movie, meta for an image. A
// movie whose moov comes before its mdat is walked over its mdat by size
// whatever the mdat holds, so its video samples are checked at the places its
// tables give: past a break they do not parse, and the movie breaks off at
// the first that does not.
namespace kestrel {

namespace {

constexpr int kMaxBoxes = 4096;

constexpr std::array<std::string_view, 20> kTopLevelTypes = {
    "ftyp", "moov", "mdat", "free", "skip", "wide", "meta", "moof", "mfra", "sidx",
    "ssix", "prft", "emsg", "pdin", "uuid", "styp", "junk", "pnot", "udta", "PICT",
};

bool is_top_level(std::span<const std::uint8_t> type) {
  for (const std::string_view known : kTopLevelTypes) {
    if (holds_text(type, 0, known)) return true;
  }
  return false;
}

std::string_view extension_for_brand(std::span<const std::uint8_t> brand) {
  const std::string_view b(reinterpret_cast<const char*>(brand.data()), brand.size());
  if (b == "qt  ") return "mov";
  if (b == "M4A " || b == "M4B ") return "m4a";
  if (b.starts_with("M4V")) return "m4v";
  if (b.starts_with("3g2")) return "3g2";
  if (b.starts_with("3gp") || b.starts_with("3gg")) return "3gp";
  if (b == "avif" || b == "avis") return "avif";
  if (b == "mif1" || b == "msf1") return "heif";
  if (b.starts_with("hei") || b.starts_with("hev")) return "heic";
  if (b == "crx ") return "cr3";
  return "mp4";
}

struct SeenBoxes {
  bool description = false;             // moov or meta
  std::optional<std::uint64_t> moov;    // where the first moov lies
  std::optional<MoovFirst> moov_first;  // that moov and the first mdat after it
};

void see_box(SeenBoxes& seen, std::span<const std::uint8_t> type, std::uint64_t position,
             std::uint64_t header, std::uint64_t size) {
  const bool moov = holds_text(type, 0, "moov");
  seen.description = seen.description || moov || holds_text(type, 0, "meta");
  if (moov && !seen.moov && size <= kMaxMoovBytes) seen.moov = position;
  if (seen.moov && !seen.moov_first && holds_text(type, 0, "mdat"))
    seen.moov_first = MoovFirst{*seen.moov, {position + header, position + size}};
}

FileEndResult end_after_boxes(FileArea& area, std::uint64_t position, const SeenBoxes& seen,
                              std::string_view extension) {
  if (!seen.description) return broken_end(position, extension);
  if (seen.moov_first) {
    KESTREL_TRY_ASSIGN(broken, moov_first_break(area, *seen.moov_first));
    if (*broken) return broken_end(**broken, extension);
  }
  return checked_end(position, extension, kIsoMediaEndNote);
}

}  // namespace

FileEndResult find_iso_media_end(FileArea& area) {
  KESTREL_TRY_ASSIGN(ftyp, area.bytes(0, 12));
  if (ftyp->size() < 12) return std::optional<FileEnd>{};
  const std::string_view extension = extension_for_brand(ftyp->subspan(8, 4));
  SeenBoxes seen;
  std::uint64_t position = 0;
  for (int boxes = 0; boxes < kMaxBoxes; ++boxes) {
    KESTREL_TRY_ASSIGN(head, area.bytes(position, 16));
    if (head->size() < 8) return end_after_boxes(area, position, seen, extension);
    const auto type = head->subspan(4, 4);
    if (!is_top_level(type) || (boxes > 0 && holds_text(type, 0, "ftyp"))) {
      return end_after_boxes(area, position, seen, extension);
    }
    std::uint64_t size = load_be<std::uint32_t>(*head, 0);
    std::uint64_t header = 8;
    if (size == 1) {
      if (head->size() < 16) return unended_end(area.size(), position, extension);
      size = load_be<std::uint64_t>(*head, 8);
      header = 16;
    }
    if (size == 0)
      return unended_end(area.size(), position, extension);  // runs to the end of the file
    if (size < header)
      return boxes == 0 ? std::optional<FileEnd>{} : broken_end(position, extension);
    if (size > area.size() - position) return unended_end(area.size(), position, extension);
    see_box(seen, type, position, header, size);
    position += size;
  }
  return broken_end(position, extension);
}

}  // namespace kestrel
