#include <algorithm>
#include <cstring>
#include <string_view>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/content_messages.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/content/file_end/zip_deflate_end.hpp"
#include "recovery-core/content/file_end/zip_descriptor.hpp"
#include "recovery-core/content/file_end/zip_records.hpp"
#include "recovery-core/errors/error_propagation.hpp"

// A ZIP file (and DOCX, XLSX, PPTX, ODF and EPUB, which are ZIP packages) is a
// run of local entries (a header, then the compressed data), the central
// directory (one header per entry), optional ZIP64 end records, and the
// end-of-central-directory record with its comment, which ends the file. An
// entry whose sizes follow its data (flag bit 3) is ended by its data
// descriptor: a deflated entry's data is inflated to its end, where the
// descriptor must follow and agree with it (so a package that broke off
// inside such an entry breaks where its data stops inflating); for another
// method, and past a unit of zeros or a thousandfold expansion, the
// descriptor is the first whose compressed size matches the bytes since the
// data started, looked for up to 16 MiB on.
// The file is checked when the end record agrees with the central directory
// found: same number of entries, same starting offset.
namespace kestrel {

namespace {

using namespace std::string_view_literals;

using zip_records::kCentralHeader;
using zip_records::kDescriptor;
using zip_records::kEndRecord;
using zip_records::kLocalHeader;
using zip_records::kUnknown32;
using zip_records::kZip64End;
using zip_records::kZip64Locator;

constexpr std::uint64_t kMaxEntries = 1u << 21;
// How far past an entry's data its descriptor is looked for by its size.
constexpr std::uint64_t kDescriptorSearchBytes = 16u << 20;
constexpr std::uint16_t kDeflated = 8;

// What the entries' names and the first entry's data say the package is.
struct PackageKind {
  std::string_view extension = "zip";

  void note_entry(std::span<const std::uint8_t> name, std::span<const std::uint8_t> stored_data,
                  bool first) {
    if (first && holds_text(name, 0, "mimetype") && name.size() == 8) {
      note_mimetype(
          std::string_view(reinterpret_cast<const char*>(stored_data.data()), stored_data.size()));
    } else if (extension == "zip") {
      if (holds_text(name, 0, "word/")) extension = "docx";
      if (holds_text(name, 0, "xl/")) extension = "xlsx";
      if (holds_text(name, 0, "ppt/")) extension = "pptx";
    }
  }

  void note_mimetype(std::string_view type) {
    if (type == "application/epub+zip") extension = "epub";
    if (type == "application/vnd.oasis.opendocument.text") extension = "odt";
    if (type == "application/vnd.oasis.opendocument.spreadsheet") extension = "ods";
    if (type == "application/vnd.oasis.opendocument.presentation") extension = "odp";
    if (type == "application/vnd.oasis.opendocument.graphics") extension = "odg";
  }
};

struct LocalEntry {
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint64_t compressed = 0;
  std::uint64_t data_start = 0;
  bool zip64 = false;
};

// The compressed size from a ZIP64 extra field, when the header left it out.
std::optional<std::uint64_t> zip64_compressed_size(std::span<const std::uint8_t> extra,
                                                   bool size_unknown, bool compressed_unknown) {
  for (std::size_t at = 0; at + 4 <= extra.size();) {
    const auto id = load_le<std::uint16_t>(extra, at);
    const auto length = load_le<std::uint16_t>(extra, at + 2);
    if (id == 0x0001) {
      const std::size_t field = at + 4 + (size_unknown ? 8 : 0);
      if (!compressed_unknown || field + 8 > at + 4 + length) return std::nullopt;
      return load_le<std::uint64_t>(extra, field);
    }
    at += 4 + std::size_t{length};
  }
  return std::nullopt;
}

// The local entry at `position` (its signature already seen); nothing when
// its header runs past the area.
std::expected<std::optional<LocalEntry>, RecoveryError> read_local_entry(FileArea& area,
                                                                         std::uint64_t position,
                                                                         PackageKind& kind,
                                                                         bool first) {
  KESTREL_TRY_ASSIGN(fixed, area.bytes(position, 30));
  if (fixed->size() < 30) return std::optional<LocalEntry>{};
  const std::size_t name_length = load_le<std::uint16_t>(*fixed, 26);
  const std::size_t extra_length = load_le<std::uint16_t>(*fixed, 28);
  const std::size_t data_at = 30 + name_length + extra_length;
  // The header with its name and extra field, and the first bytes of a
  // stored member's data (a mimetype's).
  KESTREL_TRY_ASSIGN(header, area.bytes(position, data_at + 80));
  if (header->size() < data_at) return std::optional<LocalEntry>{};
  LocalEntry entry;
  entry.flags = load_le<std::uint16_t>(*header, 6);
  entry.method = load_le<std::uint16_t>(*header, 8);
  entry.compressed = load_le<std::uint32_t>(*header, 18);
  entry.data_start = position + data_at;
  const bool size_unknown = load_le<std::uint32_t>(*header, 22) == kUnknown32;
  if (entry.compressed == kUnknown32 || size_unknown) {
    entry.zip64 = true;
    const auto extra = header->subspan(30 + name_length, extra_length);
    if (auto size = zip64_compressed_size(extra, size_unknown, entry.compressed == kUnknown32))
      entry.compressed = *size;
  }
  const bool stored = entry.method == 0;
  const std::size_t shown =
      stored ? std::min<std::uint64_t>({entry.compressed, 80, header->size() - data_at}) : 0;
  kind.note_entry(header->subspan(30, name_length), header->subspan(data_at, shown), first);
  return entry;
}

// The next place in [from, to) where "PK" and a record type follow; near the
// end of a piece, a "P" whose next bytes are in the next piece.
std::expected<FileArea::WalkStop, RecoveryError> next_signature(FileArea& area, std::uint64_t from,
                                                                std::uint64_t to) {
  return area.walk(
      from, to,
      [](std::uint64_t position,
         std::span<const std::uint8_t> piece) -> std::optional<std::uint64_t> {
        for (std::size_t i = 0; i < piece.size(); ++i) {
          const void* found = std::memchr(piece.data() + i, 'P', piece.size() - i);
          if (found == nullptr) return std::nullopt;
          i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - piece.data());
          if (i + 3 >= piece.size()) return position + i;
          if (piece[i + 1] == 'K' && ((piece[i + 2] == 7 && piece[i + 3] == 8) ||
                                      (piece[i + 2] == 3 && piece[i + 3] == 4) ||
                                      (piece[i + 2] == 1 && piece[i + 3] == 2))) {
            return position + i;
          }
        }
        return std::nullopt;
      });
}

// Whether the record at `at` is the data descriptor of `entry` (or, for a
// descriptor without signature, follows it); the position after it if so.
std::expected<std::optional<std::uint64_t>, RecoveryError> descriptor_before(
    FileArea& area, const LocalEntry& entry, std::uint64_t at) {
  KESTREL_TRY_ASSIGN(record, area.bytes(at, 24));
  const auto signature = load_le<std::uint32_t>(*record, 0);
  const std::uint64_t data = at - entry.data_start;
  if (signature == kDescriptor && record->size() >= (entry.zip64 ? 24u : 16u)) {
    const std::uint64_t size =
        entry.zip64 ? load_le<std::uint64_t>(*record, 8) : load_le<std::uint32_t>(*record, 8);
    if (size == data) return std::optional<std::uint64_t>{at + (entry.zip64 ? 24 : 16)};
  }
  if ((signature == kLocalHeader || signature == kCentralHeader) && data >= 12) {
    KESTREL_TRY_ASSIGN(unsigned_record, area.bytes(at - 12, 12));
    if (load_le<std::uint32_t>(*unsigned_record, 4) == data - 12)
      return std::optional<std::uint64_t>{at};
  }
  return std::optional<std::uint64_t>{};
}

// Where an entry ends, or where the package broke off inside it.
struct EntryEnd {
  std::uint64_t position = 0;
  bool broken = false;
};

// The end after the first descriptor from `from` on, up to 16 MiB, whose
// compressed size matches the bytes since the entry's data started.
std::expected<std::optional<EntryEnd>, RecoveryError> end_by_descriptor_size(
    FileArea& area, const LocalEntry& entry, std::uint64_t from) {
  const std::uint64_t to =
      area.size() - from > kDescriptorSearchBytes ? from + kDescriptorSearchBytes : area.size();
  for (;;) {
    KESTREL_TRY_ASSIGN(stop, next_signature(area, from, to));
    if (!stop->found) {
      // Another file's header at a unit start: the entry's bytes end before it.
      if (stop->clipped) return std::optional<EntryEnd>{EntryEnd{stop->position, true}};
      return std::optional<EntryEnd>{};
    }
    KESTREL_TRY_ASSIGN(end, descriptor_before(area, entry, stop->position));
    if (*end) return std::optional<EntryEnd>{EntryEnd{**end, false}};
    from = stop->position + 1;
  }
}

// The end of a deflated entry: after the descriptor that follows its
// inflated data and agrees with it.
std::expected<std::optional<EntryEnd>, RecoveryError> end_after_inflating(FileArea& area,
                                                                          const LocalEntry& entry) {
  KESTREL_TRY_ASSIGN(deflated, find_deflate_end(area, entry.data_start));
  if (deflated->stop == DeflateEnd::Stop::Unended) return std::optional<EntryEnd>{};
  if (deflated->stop == DeflateEnd::Stop::Bounded)
    return end_by_descriptor_size(area, entry, deflated->position);
  if (deflated->stop == DeflateEnd::Stop::Zeros) {
    // Data that deflates to zeros (a run of one byte) goes on to its
    // descriptor; otherwise the package broke off at the zeros.
    KESTREL_TRY_ASSIGN(past_zeros, end_by_descriptor_size(area, entry, deflated->position));
    if (*past_zeros && !(*past_zeros)->broken) return past_zeros;
    return std::optional<EntryEnd>{EntryEnd{deflated->position, true}};
  }
  if (deflated->stop == DeflateEnd::Stop::Broken)
    return std::optional<EntryEnd>{EntryEnd{deflated->position, true}};
  KESTREL_TRY_ASSIGN(record, area.bytes(deflated->position, kLongestZipDescriptor));
  const std::optional<ZipDescriptor> descriptor =
      read_zip_descriptor(*record, deflated->position - entry.data_start, entry.zip64);
  if (!descriptor || descriptor->crc != deflated->crc ||
      descriptor->unpacked != deflated->unpacked) {
    return std::optional<EntryEnd>{EntryEnd{deflated->position, true}};
  }
  return std::optional<EntryEnd>{EntryEnd{deflated->position + descriptor->length, false}};
}

// Where the entry ends: after its data, or after its data descriptor when
// its sizes follow the data. Nothing when no end is found (in the area, or
// by the descriptor's size, in its search window).
std::expected<std::optional<EntryEnd>, RecoveryError> local_entry_end(FileArea& area,
                                                                      const LocalEntry& entry) {
  if ((entry.flags & 0x08) == 0)
    return std::optional<EntryEnd>{EntryEnd{entry.data_start + entry.compressed, false}};
  if (entry.method == kDeflated) return end_after_inflating(area, entry);
  return end_by_descriptor_size(area, entry, entry.data_start);
}

struct Directory {
  std::uint64_t start = 0;
  std::uint64_t entries = 0;
  std::uint64_t end = 0;
};

// Walks the central directory headers from `position`.
std::expected<Directory, RecoveryError> walk_directory(FileArea& area, std::uint64_t position) {
  Directory directory{position, 0, position};
  while (directory.entries < kMaxEntries) {
    KESTREL_TRY_ASSIGN(header, area.bytes(directory.end, 46));
    if (header->size() < 46 || load_le<std::uint32_t>(*header, 0) != kCentralHeader) break;
    directory.end += 46u + load_le<std::uint16_t>(*header, 28) +
                     load_le<std::uint16_t>(*header, 30) + load_le<std::uint16_t>(*header, 32);
    ++directory.entries;
  }
  return directory;
}

// What the end records say about the central directory.
struct DirectoryClaim {
  std::uint64_t entries = 0;
  std::uint64_t offset = 0;
};

bool claim_agrees(const DirectoryClaim& claim, const Directory& directory) {
  return directory.entries > 0 && claim.entries == directory.entries &&
         claim.offset == directory.start;
}

// The end of the file after the central directory: the optional ZIP64 end
// records, then the end record with its comment. Checked when the records
// describe the directory found (the ZIP64 record's numbers, where the end
// record leaves them out).
FileEndResult end_records(FileArea& area, const Directory& directory, std::string_view extension) {
  std::uint64_t position = directory.end;
  std::optional<DirectoryClaim> zip64;
  KESTREL_TRY_ASSIGN(record, area.bytes(position, 56));
  if (load_le<std::uint32_t>(*record, 0) == kZip64End && record->size() >= 56) {
    zip64 =
        DirectoryClaim{load_le<std::uint64_t>(*record, 32), load_le<std::uint64_t>(*record, 48)};
    position += 12 + load_le<std::uint64_t>(*record, 4);
    record = area.bytes(position, 22);
    if (!record) return std::unexpected(record.error());
  }
  if (zip64 && load_le<std::uint32_t>(*record, 0) == kZip64Locator) {
    position += 20;
    record = area.bytes(position, 22);
    if (!record) return std::unexpected(record.error());
  }
  if (record->size() < 22) return unended_end(area.size(), directory.start, extension);
  if (load_le<std::uint32_t>(*record, 0) != kEndRecord)
    return broken_end(directory.start, extension);
  DirectoryClaim claim{load_le<std::uint16_t>(*record, 10), load_le<std::uint32_t>(*record, 16)};
  if (zip64 && (claim.entries == 0xFFFF || claim.offset == kUnknown32)) claim = *zip64;
  if (!claim_agrees(claim, directory) || load_le<std::uint16_t>(*record, 4) != 0) {
    return broken_end(directory.start, extension);
  }
  const std::uint64_t end = position + 22 + load_le<std::uint16_t>(*record, 20);
  if (end > area.size()) return unended_end(area.size(), directory.start, extension);
  return checked_end(end, extension, kZipEndNote);
}

}  // namespace

FileEndResult find_zip_end(FileArea& area) {
  PackageKind kind;
  std::uint64_t position = 0;
  for (std::uint64_t entries = 0; entries < kMaxEntries; ++entries) {
    KESTREL_TRY_ASSIGN(signature, area.bytes(position, 4));
    if (signature->size() < 4) return unended_end(area.size(), position, kind.extension);
    const auto type = load_le<std::uint32_t>(*signature, 0);
    if (entries > 0 && (type == kCentralHeader || type == kEndRecord)) {
      KESTREL_TRY_ASSIGN(directory, walk_directory(area, position));
      return end_records(area, *directory, kind.extension);
    }
    if (type != kLocalHeader)
      return entries == 0 ? std::optional<FileEnd>{} : broken_end(position, kind.extension);
    KESTREL_TRY_ASSIGN(entry, read_local_entry(area, position, kind, entries == 0));
    if (!*entry) return unended_end(area.size(), position, kind.extension);
    KESTREL_TRY_ASSIGN(end, local_entry_end(area, **entry));
    if (!*end || (*end)->position > area.size())
      return unended_end(area.size(), position, kind.extension);
    if ((*end)->broken) return broken_end((*end)->position, kind.extension);
    position = (*end)->position;
  }
  return broken_end(position, kind.extension);
}

}  // namespace kestrel
