#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "recovery-core/fat/fat_geometry.hpp"

namespace kestrel {

// One 32-byte FAT directory entry as it lies in the directory.
using Fat32DirectoryEntry = std::array<std::uint8_t, 32>;

// Where the fields of a directory entry lie. A short (8.3) entry names a file
// or directory; long-name entries precede it and carry its long name in pieces.
namespace fat32_entry {

// Both kinds of entry.
inline constexpr std::size_t kStatus = 0;  // also the short name's first byte
inline constexpr std::uint8_t kEndOfDirectory = 0x00;
inline constexpr std::uint8_t kDeleted = 0xE5;
inline constexpr std::size_t kAttributes = 11;
inline constexpr std::uint8_t kLongNameAttributes = 0x0F;  // the whole byte, not bits
inline constexpr std::uint8_t kVolumeLabelBit = 0x08;
inline constexpr std::uint8_t kDirectoryBit = 0x10;

// Short entry.
inline constexpr std::size_t kBase = 0;
inline constexpr std::size_t kBaseLength = 8;
inline constexpr std::size_t kExtension = 8;
inline constexpr std::size_t kExtensionLength = 3;
inline constexpr std::size_t kCaseFlags = 12;  // lower-case base (0x08) and extension (0x10)
inline constexpr std::uint8_t kCaseFlagBits = 0x18;
inline constexpr std::size_t kClusterHigh = 20;  // u16
inline constexpr std::size_t kClusterLow = 26;   // u16
inline constexpr std::size_t kFileSize = 28;     // u32

// Long-name entry.
inline constexpr std::size_t kLongNameType = 12;      // 0 for a name piece
inline constexpr std::size_t kLongNameChecksum = 13;  // of the short name it belongs to
inline constexpr std::size_t kLongNameCluster = 26;   // u16, always 0
// Its 13 UTF-16LE units lie in three runs: {offset, units}.
struct UnitRun {
  std::size_t offset;
  std::size_t units;
};
inline constexpr std::array<UnitRun, 3> kLongNameUnitRuns = {{{1, 5}, {14, 6}, {28, 2}}};

}  // namespace fat32_entry

// The fields of a short entry that the directory walk uses.
struct Fat32ShortEntry {
  bool deleted = false;
  std::uint8_t attributes = 0;
  std::uint16_t cluster_high = 0;
  std::uint16_t cluster_low = 0;
  std::uint32_t size = 0;

  bool is_directory() const { return (attributes & fat32_entry::kDirectoryBit) != 0; }
  std::uint32_t cluster() const { return (std::uint32_t{cluster_high} << 16) | cluster_low; }
};

// On FAT12 and FAT16 the high word of the start cluster is not part of it (it
// may hold an extended-attribute handle), so it reads as 0 there.
Fat32ShortEntry read_short_entry(const Fat32DirectoryEntry& entry,
                                 FatWidth width = FatWidth::Fat32);

// How many bytes starts_fat32_directory looks at: the first two entries.
inline constexpr std::size_t kFat32DirectoryStartBytes = 64;

// Whether a cluster whose first bytes are `first_entries` (at least
// kFat32DirectoryStartBytes) is the first cluster of a directory that lives at
// `cluster`: its first entry is "." naming `cluster` itself (both halves of the
// cluster number) and its second is "..", both with the directory attribute.
// Deletion does not touch these two entries, so a deleted folder's cluster
// still passes as long as nothing was written over it.
bool starts_fat32_directory(std::span<const std::uint8_t> first_entries, std::uint32_t cluster,
                            FatWidth width = FatWidth::Fat32);

// How many bytes continues_fat32_directory looks at: one sector's entries.
inline constexpr std::size_t kFat32ContinuedDirectoryBytes = 512;

// Whether bytes that follow a directory's cluster read as more of that
// directory: its entries up to an end marker (at least one of them) are
// well-formed long-name or short entries, and the first is not the "." of a
// directory of its own.
bool continues_fat32_directory(std::span<const std::uint8_t> entries);

}  // namespace kestrel
