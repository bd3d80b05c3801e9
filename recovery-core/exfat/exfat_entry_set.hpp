#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kestrel {

// One 32-byte exFAT directory entry.
using ExfatDirectoryEntry = std::array<std::uint8_t, 32>;

// Where the fields of the entries the scanner reads lie. A file is described by
// an entry set: a File entry, then as many secondary entries as it counts (a
// Stream Extension and the File Name entries among them).
namespace exfat_entry {

// Every entry: the type byte, whose top bit says "in use" and whose next bit
// says "secondary" (an entry that belongs to the primary entry before it).
inline constexpr std::size_t kType = 0;
inline constexpr std::uint8_t kEndOfDirectory = 0x00;
inline constexpr std::uint8_t kInUseBit = 0x80;
inline constexpr std::uint8_t kSecondaryBit = 0x40;
inline constexpr std::uint8_t kKindMask = 0x7F;  // the type without the in-use bit
inline constexpr std::uint8_t kFileKind = 0x05;
inline constexpr std::uint8_t kStreamExtensionKind = 0x40;
inline constexpr std::uint8_t kFileNameKind = 0x41;
inline constexpr std::uint8_t kDeletedFileType = kFileKind;  // a File entry no longer in use

// File entry.
inline constexpr std::size_t kSecondaryCount = 1;
inline constexpr std::size_t kSetChecksum = 2;     // u16, over the whole set but these two bytes
inline constexpr std::size_t kFileAttributes = 4;  // u16
inline constexpr std::uint16_t kDirectoryAttribute = 0x10;

// Allocation Bitmap entry (root directory only): which clusters are in use.
inline constexpr std::uint8_t kAllocationBitmapType = 0x81;
inline constexpr std::size_t kBitmapFlags = 1;
inline constexpr std::uint8_t kSecondBitmapFlag = 0x01;  // the bitmap of a second FAT
inline constexpr std::size_t kBitmapFirstCluster = 20;   // u32
inline constexpr std::size_t kBitmapDataLength = 24;     // u64

// Stream Extension entry.
inline constexpr std::size_t kSecondaryFlags = 1;
inline constexpr std::uint8_t kNoFatChainFlag =
    0x02;                                      // the clusters are contiguous; the FAT is not used
inline constexpr std::size_t kNameLength = 3;  // in UTF-16 units
inline constexpr std::size_t kFirstCluster = 20;  // u32
inline constexpr std::size_t kDataLength = 24;    // u64

// File Name entry: 15 UTF-16LE units from byte 2.
inline constexpr std::size_t kNameUnits = 2;
inline constexpr std::size_t kUnitsPerNameEntry = 15;

}  // namespace exfat_entry

// What a set's Stream Extension says about the file's data.
struct ExfatStreamFacts {
  bool no_fat_chain = false;
  std::uint8_t name_length = 0;
  std::uint32_t first_cluster = 0;
  std::uint64_t data_length = 0;
};

// The first Stream Extension among the set's secondary entries (`set` holds the
// File entry and its secondaries), or nothing when it has none.
std::optional<ExfatStreamFacts> find_stream_extension(std::span<const std::uint8_t> set);

// Whether the set's File entry carries the directory attribute.
bool is_directory_set(std::span<const std::uint8_t> set);

// Whether the checksum stored in the set's File entry matches its entries.
// Deletion clears only the in-use bits, so the sum is taken as if every entry
// were in use: a deleted set that is otherwise untouched still matches.
bool entry_set_checksum_holds(std::span<const std::uint8_t> set);

// Whether the entry type is one a directory may hold, in use or not: File,
// Stream Extension, File Name, the root's Allocation Bitmap, Up-case Table
// and Volume Label, and the benign GUID, padding and vendor entries.
bool is_known_entry_type(std::uint8_t type);

// The file's name from the set's File Name entries, in order, cut at
// `name_length` units; unpaired surrogates are replaced. Empty when the entries
// hold no unit.
std::string entry_set_name(std::span<const std::uint8_t> set, std::uint8_t name_length);

}  // namespace kestrel
