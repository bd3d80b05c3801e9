#include "recovery-core/content/file_end/zip_join.hpp"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <span>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/file_end/raw_inflation.hpp"
#include "recovery-core/content/file_end/zip_descriptor.hpp"
#include "recovery-core/content/file_end/zip_records.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

using zip_records::kCentralHeader;
using zip_records::kEndRecord;
using zip_records::kLocalHeader;
using zip_records::kUnknown32;

constexpr std::size_t kEndRecordBytes = 22;
constexpr std::size_t kCentralHeaderBytes = 46;
constexpr std::size_t kLocalHeaderBytes = 30;
// The largest central directory, and member, whose bytes are checked.
constexpr std::uint64_t kMaxDirectoryBytes = 1u << 20;
constexpr std::uint64_t kMaxZipMemberBytes = 64u << 20;
constexpr std::size_t kStep = 256u << 10;
// The general-purpose flag that puts a member's CRC-32 and sizes in a data
// descriptor after its data.
constexpr std::uint16_t kSizesFollowData = 0x08;

std::optional<ZipTail> end_record(std::span<const std::uint8_t> bytes, std::uint64_t position) {
  if (bytes.size() < kEndRecordBytes) return std::nullopt;
  ZipTail tail;
  tail.position = position;
  tail.entries = load_le<std::uint16_t>(bytes, 10);
  tail.directory_size = load_le<std::uint32_t>(bytes, 12);
  tail.directory_offset = load_le<std::uint32_t>(bytes, 16);
  if (tail.directory_offset == kUnknown32 || tail.directory_size == kUnknown32) return std::nullopt;
  if (tail.entries == 0 || tail.directory_size < kCentralHeaderBytes * tail.entries)
    return std::nullopt;
  return tail;
}

// The members the central directory lists, in its order; nothing when it
// does not hold up.
std::optional<std::vector<ZipMember>> read_members(std::span<const std::uint8_t> directory,
                                                   std::uint32_t entries) {
  std::vector<ZipMember> members;
  std::size_t at = 0;
  for (std::uint32_t i = 0; i < entries; ++i) {
    if (directory.size() - at < kCentralHeaderBytes ||
        load_le<std::uint32_t>(directory, at) != kCentralHeader) {
      return std::nullopt;
    }
    ZipMember member;
    member.flags = load_le<std::uint16_t>(directory, at + 8);
    member.method = load_le<std::uint16_t>(directory, at + 10);
    member.crc = load_le<std::uint32_t>(directory, at + 16);
    member.packed = load_le<std::uint32_t>(directory, at + 20);
    member.unpacked = load_le<std::uint32_t>(directory, at + 24);
    member.header = load_le<std::uint32_t>(directory, at + 42);
    member.name_length = load_le<std::uint16_t>(directory, at + 28);
    members.push_back(member);
    at += kCentralHeaderBytes + std::size_t{load_le<std::uint16_t>(directory, at + 28)} +
          load_le<std::uint16_t>(directory, at + 30) + load_le<std::uint16_t>(directory, at + 32);
    if (at > directory.size()) return std::nullopt;
  }
  return members;
}

// Feeds the member's packed bytes [from, from + length) of `area` to `take`,
// piece by piece; false when they run out before `length`.
template <typename Take>
std::expected<bool, RecoveryError> each_piece(FileArea& area, std::uint64_t from,
                                              std::uint64_t length, Take&& take) {
  for (std::uint64_t done = 0; done < length;) {
    KESTREL_TRY_ASSIGN(
        piece, area.bytes(from + done,
                          static_cast<std::size_t>(std::min<std::uint64_t>(kStep, length - done))));
    if (piece->empty()) return false;
    if (!take(*piece)) return false;
    done += piece->size();
  }
  return true;
}

std::expected<bool, RecoveryError> stored_holds(FileArea& area, std::uint64_t data,
                                                const ZipMember& member) {
  if (member.packed != member.unpacked) return false;
  uLong crc = crc32(0L, Z_NULL, 0);
  KESTREL_TRY_ASSIGN(read,
                     each_piece(area, data, member.packed, [&](std::span<const std::uint8_t> p) {
                       crc = crc32(crc, p.data(), static_cast<uInt>(p.size()));
                       return true;
                     }));
  return *read && crc == member.crc;
}

std::expected<bool, RecoveryError> deflated_holds(FileArea& area, std::uint64_t data,
                                                  const ZipMember& member) {
  RawInflation inflation({member.unpacked});
  if (!inflation.ready()) return false;
  KESTREL_TRY_ASSIGN(read,
                     each_piece(area, data, member.packed, [&](std::span<const std::uint8_t> p) {
                       const std::size_t taken = inflation.feed(p);
                       // The stream must end with the member's last packed byte.
                       return !inflation.over_bound() && !inflation.failed() &&
                              (!inflation.ended() || taken == p.size());
                     }));
  return *read && inflation.ended() && !inflation.over_bound() &&
         inflation.produced() == member.unpacked && inflation.crc() == member.crc;
}

// Whether the descriptor at `at`, after the member's data, names the
// directory's CRC-32 and sizes.
std::expected<bool, RecoveryError> descriptor_agrees(FileArea& joined, std::uint64_t at,
                                                     const ZipMember& member, bool zip64) {
  KESTREL_TRY_ASSIGN(record, joined.bytes(at, kLongestZipDescriptor));
  const std::optional<ZipDescriptor> descriptor =
      read_zip_descriptor(*record, member.packed, zip64);
  return descriptor && descriptor->crc == member.crc && descriptor->unpacked == member.unpacked;
}

// Whether `member`, whose header, data or descriptor the join cuts, reads as
// the directory says.
std::expected<bool, RecoveryError> member_holds(FileArea& joined, const ZipMember& member) {
  if (member.packed > kMaxZipMemberBytes || member.unpacked > kMaxZipMemberBytes) return false;
  KESTREL_TRY_ASSIGN(header, joined.bytes(member.header, kLocalHeaderBytes));
  if (header->size() < kLocalHeaderBytes || load_le<std::uint32_t>(*header, 0) != kLocalHeader)
    return false;
  const std::uint64_t data = member.header + kLocalHeaderBytes +
                             load_le<std::uint16_t>(*header, 26) +
                             load_le<std::uint16_t>(*header, 28);
  const bool sizes_follow = (load_le<std::uint16_t>(*header, 6) & kSizesFollowData) != 0;
  // A ZIP64 member's descriptor holds 64-bit sizes.
  const bool zip64 = load_le<std::uint32_t>(*header, 18) == kUnknown32 ||
                     load_le<std::uint32_t>(*header, 22) == kUnknown32;
  std::expected<bool, RecoveryError> holds = false;
  if (member.method == 0) holds = stored_holds(joined, data, member);
  if (member.method == 8) holds = deflated_holds(joined, data, member);
  if (!holds || !*holds || !sizes_follow) return holds;
  return descriptor_agrees(joined, data + member.packed, member, zip64);
}

}  // namespace

std::expected<std::vector<ZipTail>, RecoveryError> find_zip_tails(AreaReader& reader,
                                                                  std::uint64_t from,
                                                                  std::uint64_t to,
                                                                  std::size_t most) {
  std::vector<ZipTail> tails;
  for (std::uint64_t position = from; position < to && tails.size() < most;) {
    KESTREL_TRY_ASSIGN(view, reader.view(position, AreaReader::kMaxView, to));
    if (view->size() < kEndRecordBytes) break;
    const std::span<const std::uint8_t> bytes = *view;
    std::size_t next = bytes.size() - (kEndRecordBytes - 1);
    for (std::size_t i = 0; i + kEndRecordBytes <= bytes.size(); ++i) {
      const void* found =
          std::memchr(bytes.data() + i, 'P', bytes.size() - kEndRecordBytes + 1 - i);
      if (found == nullptr) break;
      i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - bytes.data());
      if (load_le<std::uint32_t>(bytes, i) != kEndRecord) continue;
      if (auto tail = end_record(bytes.subspan(i), position + i)) {
        tails.push_back(*tail);
        if (tails.size() == most) {
          next = i + 1;
          break;
        }
      }
    }
    position += next;
  }
  return tails;
}

std::optional<ZipMembers> ZipMembers::parse(std::span<const std::uint8_t> directory,
                                            const ZipTail& tail) {
  std::optional<std::vector<ZipMember>> members = read_members(directory, tail.entries);
  if (!members) return std::nullopt;
  std::sort(members->begin(), members->end(),
            [](const ZipMember& a, const ZipMember& b) { return a.header < b.header; });
  ZipMembers parsed;
  parsed.members_ = std::move(*members);
  parsed.directory_offset_ = tail.directory_offset;
  return parsed;
}

std::expected<std::optional<ZipMembers>, RecoveryError> ZipMembers::read(AreaReader& reader,
                                                                         const ZipTail& tail) {
  if (tail.directory_size > kMaxDirectoryBytes || tail.position < tail.directory_size)
    return std::optional<ZipMembers>{};
  KESTREL_TRY_ASSIGN(view,
                     reader.view(tail.position - tail.directory_size,
                                 static_cast<std::size_t>(tail.directory_size), tail.position));
  if (view->size() < tail.directory_size) return std::optional<ZipMembers>{};
  return parse(*view, tail);
}

std::optional<std::uint64_t> ZipMembers::first_header_from(std::uint64_t at) const {
  for (const ZipMember& member : members_) {
    if (member.header >= directory_offset_) break;
    if (member.header >= at) return member.header;
  }
  return std::nullopt;
}

bool ZipMembers::sizes_follow_data(std::uint64_t at) const {
  const ZipMember* holder = nullptr;
  for (const ZipMember& member : members_) {
    if (member.header < at) holder = &member;
  }
  return holder != nullptr && (holder->flags & kSizesFollowData) != 0;
}

bool ZipMembers::header_matches(std::uint64_t header, std::span<const std::uint8_t> local) const {
  if (local.size() < kLocalHeaderBytes || load_le<std::uint32_t>(local, 0) != kLocalHeader)
    return false;
  for (const ZipMember& member : members_) {
    if (member.header != header) continue;
    if (load_le<std::uint16_t>(local, 8) != member.method ||
        load_le<std::uint16_t>(local, 26) != member.name_length) {
      return false;
    }
    // With flag bit 3 the sizes and CRC-32 follow the data instead.
    if ((load_le<std::uint16_t>(local, 6) & kSizesFollowData) != 0) return true;
    return load_le<std::uint32_t>(local, 14) == member.crc &&
           load_le<std::uint32_t>(local, 18) == member.packed &&
           load_le<std::uint32_t>(local, 22) == member.unpacked;
  }
  return false;
}

std::expected<bool, RecoveryError> ZipMembers::join_holds(FileArea& joined,
                                                          std::uint64_t join_at) const {
  // The member the join cuts is the last to start before it. A join that
  // falls between members is checked by the member before it all the same:
  // were the piece to end earlier, inside that member, the walk would still
  // find the next header where it lies and nothing else would notice.
  const ZipMember* cut = nullptr;
  for (const ZipMember& member : members_) {
    if (member.header < join_at) cut = &member;
  }
  if (cut == nullptr) return true;
  return member_holds(joined, *cut);
}

}  // namespace kestrel
