#include "recovery-core/content/content_dates/zip_entry.hpp"

#include <zlib.h>

#include <span>

#include "recovery-core/bytes/byte_fields.hpp"

namespace kestrel {

namespace {

using Bytes = std::span<const std::uint8_t>;

// The end record is 22 bytes and may be followed by a comment of up to 64 KiB.
constexpr std::size_t kEndRecordBytes = 22;
constexpr std::size_t kEndSearchBytes = kEndRecordBytes + 0xFFFF;
constexpr std::size_t kDirectoryEntryBytes = 46;
constexpr std::size_t kLocalHeaderBytes = 30;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;

struct CentralDirectory {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// Where the last end record in the archive's tail says the directory is.
std::optional<CentralDirectory> central_directory(ContentBytes& bytes) {
  const std::uint64_t size = bytes.size();
  const std::uint64_t start = size > kEndSearchBytes ? size - kEndSearchBytes : 0;
  const auto tail = bytes.read(start, kEndSearchBytes);
  if (!tail || tail->size() < kEndRecordBytes) return std::nullopt;
  const Bytes t(*tail);
  for (std::size_t at = t.size() - kEndRecordBytes + 1; at-- > 0;) {
    if (!holds_text(t, at, "PK\x05\x06")) continue;
    const CentralDirectory directory{load_le<std::uint32_t>(t, at + 16),
                                     load_le<std::uint32_t>(t, at + 12)};
    if (directory.offset > start + at || directory.size > start + at - directory.offset)
      return std::nullopt;
    return directory;
  }
  return std::nullopt;
}

struct EntryPlace {
  std::uint16_t method = 0;
  std::uint64_t packed = 0;
  std::uint64_t unpacked = 0;
  std::uint64_t local_header = 0;
};

// The directory entry of `name`, walking only the entries inside the
// directory's bytes.
std::optional<EntryPlace> find_entry(Bytes directory, std::string_view name) {
  std::size_t at = 0;
  while (at + kDirectoryEntryBytes <= directory.size() && holds_text(directory, at, "PK\x01\x02")) {
    const std::size_t name_length = load_le<std::uint16_t>(directory, at + 28);
    const std::size_t extra_length = load_le<std::uint16_t>(directory, at + 30);
    const std::size_t comment_length = load_le<std::uint16_t>(directory, at + 32);
    if (name_length == name.size() && holds_text(directory, at + kDirectoryEntryBytes, name)) {
      return EntryPlace{
          load_le<std::uint16_t>(directory, at + 10), load_le<std::uint32_t>(directory, at + 20),
          load_le<std::uint32_t>(directory, at + 24), load_le<std::uint32_t>(directory, at + 42)};
    }
    at += kDirectoryEntryBytes + name_length + extra_length + comment_length;
  }
  return std::nullopt;
}

// Raw deflate data inflated into at most `unpacked` bytes, all of which it
// must fill.
std::optional<std::vector<std::uint8_t>> inflate_entry(std::vector<std::uint8_t> packed,
                                                       std::size_t unpacked) {
  std::vector<std::uint8_t> out(unpacked);
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return std::nullopt;
  stream.next_in = packed.data();
  stream.avail_in = static_cast<uInt>(packed.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&stream, Z_FINISH);
  const bool whole = result == Z_STREAM_END && stream.total_out == unpacked;
  inflateEnd(&stream);
  if (!whole) return std::nullopt;
  return out;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> read_zip_entry(ContentBytes& bytes, std::string_view name,
                                                        std::size_t most_bytes) {
  most_bytes = std::min(most_bytes, ContentBytes::kMaxContentRead);
  const std::optional<CentralDirectory> place = central_directory(bytes);
  if (!place || place->size > ContentBytes::kMaxContentRead) return std::nullopt;
  const auto directory = bytes.read(place->offset, static_cast<std::size_t>(place->size));
  if (!directory) return std::nullopt;
  const std::optional<EntryPlace> entry = find_entry(*directory, name);
  if (!entry || entry->packed > most_bytes || entry->unpacked > most_bytes) return std::nullopt;
  if (entry->method != kStored && entry->method != kDeflated) return std::nullopt;
  const auto local = bytes.read(entry->local_header, kLocalHeaderBytes);
  if (!local || local->size() < kLocalHeaderBytes || !holds_text(*local, 0, "PK\x03\x04"))
    return std::nullopt;
  const std::uint64_t data = entry->local_header + kLocalHeaderBytes +
                             load_le<std::uint16_t>(*local, 26) +
                             load_le<std::uint16_t>(*local, 28);
  auto packed = bytes.read(data, static_cast<std::size_t>(entry->packed));
  if (!packed || packed->size() != entry->packed) return std::nullopt;
  if (entry->method == kStored) {
    if (entry->packed != entry->unpacked) return std::nullopt;
    return std::move(*packed);
  }
  return inflate_entry(std::move(*packed), static_cast<std::size_t>(entry->unpacked));
}

}  // namespace kestrel
