#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "recovery-core/content/content_signature.hpp"
#include "recovery-core/content/file_end/file_area.hpp"
#include "recovery-core/content/file_end/file_end.hpp"

namespace kestrel {

// The formats carving recognises by their first bytes, each with a rule that
// finds where the file ends.
enum class FileFamily { Jpeg, Png, Gif, Bmp, Pdf, Zip, IsoMedia, Riff, Tiff };

// How many first bytes the header check looks at.
inline constexpr std::size_t kHeaderProbeBytes = 32;

// The family whose header the bytes begin with. Stricter than the content
// signature: besides the magic bytes, the fields right after it must be
// plausible, so that random data seldom passes for a header.
std::optional<FileFamily> probe_file_header(std::span<const std::uint8_t> first_bytes);

// The kind the content signature gives a family whose own magic it does not
// know (an Olympus raw's header is TIFF with another magic number).
FileKind family_kind(FileFamily family);

// Runs the family's end rule over a file that starts at the area's start.
FileEndResult find_file_end(FileFamily family, FileArea& area);

// The end rules, one per family. Each reads the structure from the file's
// first byte, follows it as far as it stays valid, and says where the file
// ends and how sure that is. None allocates in proportion to a number the
// data claims, and each gives up after a bounded amount of work.
FileEndResult find_jpeg_end(FileArea& area);
FileEndResult find_png_end(FileArea& area);
FileEndResult find_gif_end(FileArea& area);
FileEndResult find_bmp_end(FileArea& area);
FileEndResult find_pdf_end(FileArea& area);
FileEndResult find_zip_end(FileArea& area);
FileEndResult find_iso_media_end(FileArea& area);
FileEndResult find_riff_end(FileArea& area);
FileEndResult find_tiff_end(FileArea& area);

}  // namespace kestrel
