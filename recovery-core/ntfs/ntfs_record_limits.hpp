#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

// Bounds the NTFS reader keeps whatever a volume claims.

// Runs one stream's run list may hold: a 4 KiB record holds fewer.
inline constexpr std::size_t kMostRunsPerStream = 65536;
// Folders between a file and the root.
inline constexpr std::size_t kDeepestFolder = 32;
// Records read per block in the pass over the MFT.
inline constexpr std::uint64_t kMftBlockBytes = std::uint64_t{1024} * 1024;
// Folder records remembered while paths are rebuilt.
inline constexpr std::size_t kRememberedFolders = 65536;

// Records every volume reserves: the system files 0-15 and the unused 16-23.
inline constexpr std::uint64_t kFirstUserRecord = 24;
inline constexpr std::uint64_t kRootFolderRecord = 5;
inline constexpr std::uint64_t kVolumeRecord = 3;
inline constexpr std::uint64_t kBitmapRecord = 6;
inline constexpr std::uint64_t kExtendRecord = 11;

}  // namespace kestrel
