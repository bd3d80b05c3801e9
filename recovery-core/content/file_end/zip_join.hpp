#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "recovery-core/content/file_end/area_reader.hpp"
#include "recovery-core/content/file_end/file_area.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// The end of a ZIP package (DOCX, XLSX, ODF and EPUB are ZIP packages too)
// found past where the package broke off: its end-of-central-directory
// record, and where the package's own offsets put that record. The record
// lies as far past that place as the gap between the package's pieces is
// long, so it fixes where the second piece starts for any join.
struct ZipTail {
  std::uint64_t position = 0;          // where the end record was found
  std::uint64_t directory_offset = 0;  // the central directory, from the file's first byte
  std::uint64_t directory_size = 0;
  std::uint32_t entries = 0;

  // Where the package's offsets put the end record: right after the
  // central directory.
  std::uint64_t record_offset() const { return directory_offset + directory_size; }
};

// The end records in [from, to) of the reader's source, at most `most` of
// them, first first. ZIP64 packages are left out (their offsets are in
// records of their own).
std::expected<std::vector<ZipTail>, RecoveryError> find_zip_tails(AreaReader& reader,
                                                                  std::uint64_t from,
                                                                  std::uint64_t to,
                                                                  std::size_t most);

// One member as the central directory describes it.
struct ZipMember {
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc = 0;
  std::uint64_t packed = 0;
  std::uint64_t unpacked = 0;
  std::uint64_t header = 0;  // its local header, from the file's first byte
  std::uint16_t name_length = 0;
};

// The members of a package's central directory, read once from where its end
// record was found (the directory lies right before it), so that joins can
// be checked before the pieces up to the directory are known.
class ZipMembers {
 public:
  // Nothing when the directory is too large to check (over 1 MiB) or does
  // not hold up.
  static std::expected<std::optional<ZipMembers>, RecoveryError> read(AreaReader& reader,
                                                                      const ZipTail& tail);

  // The first local header at or after `at`, before the directory.
  std::optional<std::uint64_t> first_header_from(std::uint64_t at) const;
  // Whether the member that holds `at` (the last to start before it) has its
  // CRC-32 and sizes in a data descriptor after its data (flag bit 3).
  bool sizes_follow_data(std::uint64_t at) const;
  // Whether the 30 bytes `local` can be the local header of the member the
  // directory puts at `header`: its method, name length and (unless its
  // sizes follow its data) CRC-32 and sizes agree.
  bool header_matches(std::uint64_t header, std::span<const std::uint8_t> local) const;
  // Whether the join at `join_at` (from the file's first byte) holds for
  // the package read over `joined`: the member whose header or data the join
  // cuts, if any, reads over the joined bytes as its directory entry says
  // (stored or deflated, to exactly its sizes and CRC-32, and when its sizes
  // follow its data, its descriptor names them too); for a join that falls
  // between members, the member before it does. False for a member
  // too large to check (over 64 MiB) and for other compression methods.
  std::expected<bool, RecoveryError> join_holds(FileArea& joined, std::uint64_t join_at) const;

 private:
  static std::optional<ZipMembers> parse(std::span<const std::uint8_t> directory,
                                         const ZipTail& tail);

  std::vector<ZipMember> members_;
  std::uint64_t directory_offset_ = 0;
};

}  // namespace kestrel
