#include <algorithm>
#include <array>
#include <limits>
#include <string_view>
#include <utility>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/content_messages.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/errors/error_propagation.hpp"

// TIFF files and the camera raws built on TIFF (CR2, NEF, ARW, DNG, ORF) hold
// image directories (IFDs) anywhere in the file, each a list of 12-byte
// entries whose values lie inside the entry or at an offset; strips, tiles and
// previews are lists of offsets with a list of lengths beside them. The file
// ends at the farthest byte any directory references. Directories are found
// through the chain of next-directory offsets and through the sub-directory,
// Exif, GPS and interoperability tags; a directory seen twice is not read
// again, and at most kMaxDirectories are read.
namespace kestrel {

namespace {

constexpr std::size_t kMaxDirectories = 64;
constexpr std::uint16_t kMaxEntries = 4096;
constexpr std::uint64_t kMaxListValues = 1u << 20;
constexpr std::size_t kListPiece = 4096;  // values read per view of an offset list

struct ByteOrder {
  bool little = true;
  std::uint16_t u16(std::span<const std::uint8_t> b, std::size_t at) const {
    return little ? load_le<std::uint16_t>(b, at) : load_be<std::uint16_t>(b, at);
  }
  std::uint32_t u32(std::span<const std::uint8_t> b, std::size_t at) const {
    return little ? load_le<std::uint32_t>(b, at) : load_be<std::uint32_t>(b, at);
  }
};

std::uint64_t type_size(std::uint16_t type) {
  switch (type) {
    case 1:
    case 2:
    case 6:
    case 7:
      return 1;
    case 3:
    case 8:
      return 2;
    case 4:
    case 9:
    case 11:
    case 13:
      return 4;
    case 5:
    case 10:
    case 12:
      return 8;
    default:
      return 0;
  }
}

struct Entry {
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::uint64_t count = 0;
  std::uint32_t value = 0;     // the value itself when it fits, else its offset
  std::uint64_t value_at = 0;  // where the value's bytes are in the file
  std::uint64_t bytes() const { return count * type_size(type); }
};

// What the walk learns: the farthest byte, the directories to read, the make.
struct TiffWalk {
  ByteOrder order;
  std::uint64_t end = 8;
  std::array<std::uint32_t, kMaxDirectories> directories{};
  std::size_t directory_count = 0;
  std::string_view extension = "tif";
  bool damaged = false;

  // A directory named twice (a loop, or two lists that share it) is damage.
  void queue(std::uint32_t offset) {
    if (offset == 0) return;
    if (offset < 8 || std::find(directories.begin(), directories.begin() + directory_count,
                                offset) != directories.begin() + directory_count) {
      damaged = true;
      return;
    }
    if (directory_count == kMaxDirectories) {
      damaged = true;
      return;
    }
    directories[directory_count++] = offset;
  }
};

// The largest offset + length over a list of offsets and the list of lengths beside it.
std::expected<std::uint64_t, RecoveryError> list_extent(FileArea& area, const ByteOrder& order,
                                                        const Entry& offsets,
                                                        const Entry& lengths) {
  const std::uint64_t n = std::min({offsets.count, lengths.count, kMaxListValues});
  std::uint64_t end = 0;
  for (std::uint64_t first = 0; first < n; first += kListPiece) {
    const std::uint64_t count = std::min<std::uint64_t>(kListPiece, n - first);
    std::array<std::uint32_t, kListPiece> starts{};
    for (int pass = 0; pass < 2; ++pass) {
      const Entry& list = pass == 0 ? offsets : lengths;
      const std::uint64_t width = type_size(list.type);
      auto values =
          area.bytes(list.value_at + first * width, static_cast<std::size_t>(count * width));
      if (!values) return std::unexpected(values.error());
      if (values->size() < count * width) return std::numeric_limits<std::uint64_t>::max();
      for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint32_t v = width == 2 ? order.u16(*values, i * 2) : order.u32(*values, i * 4);
        if (pass == 0)
          starts[i] = v;
        else
          end = std::max<std::uint64_t>(end, std::uint64_t{starts[i]} + v);
      }
    }
  }
  return end;
}

// The entries of one directory that need more reading after the table.
struct Directory {
  Entry strip_offsets, strip_lengths, tile_offsets, tile_lengths, sub_directories, make;
  std::uint64_t preview_start = 0, preview_length = 0;
};

void note_entry(TiffWalk& walk, Directory& directory, const Entry& entry) {
  switch (entry.tag) {
    case 0x0111:
      directory.strip_offsets = entry;
      break;
    case 0x0117:
      directory.strip_lengths = entry;
      break;
    case 0x0144:
      directory.tile_offsets = entry;
      break;
    case 0x0145:
      directory.tile_lengths = entry;
      break;
    case 0x014A:
      directory.sub_directories = entry;
      break;
    case 0x010F:
      directory.make = entry;
      break;
    case 0x0201:
      directory.preview_start = entry.value;
      break;
    case 0x0202:
      directory.preview_length = entry.value;
      break;
    case 0x8769:
    case 0x8825:
    case 0xA005:
      walk.queue(entry.value);
      break;
    case 0xC612:
      walk.extension = "dng";
      break;
    default:
      break;
  }
}

std::expected<void, RecoveryError> note_make(FileArea& area, TiffWalk& walk, const Entry& make) {
  if (make.type != 2 || make.count == 0 || walk.extension != "tif") return {};
  auto text =
      area.bytes(make.value_at, static_cast<std::size_t>(std::min<std::uint64_t>(make.count, 16)));
  if (!text) return std::unexpected(text.error());
  if (holds_text(*text, 0, "Canon")) walk.extension = "cr2";
  if (holds_text(*text, 0, "NIKON")) walk.extension = "nef";
  if (holds_text(*text, 0, "SONY")) walk.extension = "arw";
  if (holds_text(*text, 0, "OLYMPUS")) walk.extension = "orf";
  return {};
}

std::expected<void, RecoveryError> queue_sub_directories(FileArea& area, TiffWalk& walk,
                                                         const Entry& list) {
  const std::uint64_t width = type_size(list.type);
  if (width != 4 || list.count == 0) return {};
  const std::uint64_t count = std::min<std::uint64_t>(list.count, kMaxDirectories);
  KESTREL_TRY_ASSIGN(values, area.bytes(list.value_at, static_cast<std::size_t>(count * 4)));
  for (std::size_t i = 0; i + 4 <= values->size(); i += 4) walk.queue(walk.order.u32(*values, i));
  return {};
}

// What a directory's lists, sub-directories and make add to the walk.
std::expected<void, RecoveryError> follow_directory(FileArea& area, TiffWalk& walk,
                                                    const Directory& directory) {
  for (const auto& [offsets, lengths] :
       {std::pair{directory.strip_offsets, directory.strip_lengths},
        std::pair{directory.tile_offsets, directory.tile_lengths}}) {
    if (type_size(offsets.type) == 0 || type_size(lengths.type) == 0 ||
        type_size(offsets.type) == 1)
      continue;
    KESTREL_TRY_ASSIGN(end, list_extent(area, walk.order, offsets, lengths));
    walk.end = std::max(walk.end, *end);
  }
  walk.end = std::max(walk.end, directory.preview_start + directory.preview_length);
  if (auto queued = queue_sub_directories(area, walk, directory.sub_directories); !queued)
    return queued;
  return note_make(area, walk, directory.make);
}

std::expected<void, RecoveryError> read_directory(FileArea& area, TiffWalk& walk,
                                                  std::uint32_t offset) {
  KESTREL_TRY_ASSIGN(head, area.bytes(offset, 2));
  const std::uint16_t count = head->size() == 2 ? walk.order.u16(*head, 0) : 0;
  if (head->size() < 2 || count == 0 || count > kMaxEntries) {
    walk.damaged = walk.damaged || head->size() == 2;
    walk.end = std::max<std::uint64_t>(walk.end, std::uint64_t{offset} + 2);
    return {};
  }
  const std::uint64_t table_at = std::uint64_t{offset} + 2;
  walk.end = std::max(walk.end, table_at + std::uint64_t{12} * count + 4);
  KESTREL_TRY_ASSIGN(table, area.bytes(table_at, 12u * count + 4));
  if (table->size() < 12u * count + 4) return {};
  Directory directory;
  for (std::size_t i = 0; i < count; ++i) {
    Entry e{walk.order.u16(*table, 12 * i), walk.order.u16(*table, 12 * i + 2),
            walk.order.u32(*table, 12 * i + 4), walk.order.u32(*table, 12 * i + 8), 0};
    if (type_size(e.type) == 0) continue;
    e.value_at = e.bytes() <= 4 ? table_at + 12 * i + 8 : e.value;
    if (e.bytes() > 4) walk.end = std::max(walk.end, e.value_at + e.bytes());
    note_entry(walk, directory, e);
  }
  walk.queue(walk.order.u32(*table, std::uint64_t{12} * count));
  return follow_directory(area, walk, directory);
}

// Whether the first directory lies in the area with a plausible entry count.
std::expected<bool, RecoveryError> first_directory_holds(FileArea& area, const TiffWalk& walk) {
  if (walk.directory_count == 0) return false;
  KESTREL_TRY_ASSIGN(head, area.bytes(walk.directories[0], 2));
  if (head->size() < 2) return false;
  const std::uint16_t count = walk.order.u16(*head, 0);
  return count > 0 && count <= kMaxEntries && walk.directories[0] + 6u + 12u * count <= area.size();
}

}  // namespace

FileEndResult find_tiff_end(FileArea& area) {
  KESTREL_TRY_ASSIGN(header, area.bytes(0, 12));
  if (header->size() < 8) return std::optional<FileEnd>{};
  TiffWalk walk;
  walk.order.little = (*header)[0] == 'I';
  if (holds_text(*header, 2, "RO") || holds_text(*header, 2, "RS") ||
      holds_text(*header, 0, "MMOR")) {
    walk.extension = "orf";
  }
  if (holds_text(*header, 8, "CR") && header->size() >= 11 && (*header)[10] == 2)
    walk.extension = "cr2";
  walk.queue(walk.order.u32(*header, 4));
  KESTREL_TRY_ASSIGN(first, first_directory_holds(area, walk));
  if (!*first) return std::optional<FileEnd>{};
  for (std::size_t next = 0; next < walk.directory_count; ++next) {
    KESTREL_TRY(read_directory(area, walk, walk.directories[next]));
  }
  if (walk.end > area.size()) return unended_end(area.size(), 8, walk.extension);
  if (walk.damaged) return broken_end(walk.end, walk.extension);
  return checked_end(walk.end, walk.extension, kTiffEndNote);
}

}  // namespace kestrel
