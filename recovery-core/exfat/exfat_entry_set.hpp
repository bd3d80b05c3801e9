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

// Every entry: the type byte, whose top bit says "in use".
inline constexpr std::size_t kType = 0;
inline constexpr std::uint8_t kEndOfDirectory = 0x00;
inline constexpr std::uint8_t kKindMask = 0x7F;  // the type without the in-use bit
inline constexpr std::uint8_t kFileKind = 0x05;
inline constexpr std::uint8_t kStreamExtensionKind = 0x40;
inline constexpr std::uint8_t kFileNameKind = 0x41;
inline constexpr std::uint8_t kDeletedFileType = kFileKind;  // a File entry no longer in use

// File entry.
inline constexpr std::size_t kSecondaryCount = 1;

// Stream Extension entry.
inline constexpr std::size_t kSecondaryFlags = 1;
inline constexpr std::uint8_t kNoFatChainFlag = 0x02;  // the clusters are contiguous; the FAT is not used
inline constexpr std::size_t kNameLength = 3;          // in UTF-16 units
inline constexpr std::size_t kFirstCluster = 20;       // u32
inline constexpr std::size_t kDataLength = 24;         // u64

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

// The file's name from the set's File Name entries, in order, cut at
// `name_length` units; unpaired surrogates are replaced. Empty when the entries
// hold no unit.
std::string entry_set_name(std::span<const std::uint8_t> set, std::uint8_t name_length);

}  // namespace kestrel
