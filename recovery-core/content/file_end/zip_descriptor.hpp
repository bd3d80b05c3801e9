#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kestrel {

// The data descriptor a ZIP writer puts right after a member's data when it
// wrote the local header before it knew the CRC-32 and sizes (flag bit 3:
// Java's ZipOutputStream, a zip writing to a pipe, Python's zipfile on a
// stream it cannot seek): the CRC-32, then the compressed and uncompressed
// sizes, 32 bits each, or 64 for a ZIP64 member; usually with a signature
// of its own before them, sometimes without.
struct ZipDescriptor {
  std::uint32_t crc = 0;
  std::uint64_t packed = 0;
  std::uint64_t unpacked = 0;
  std::size_t length = 0;  // its bytes, the signature included
};

// The most bytes a descriptor takes.
inline constexpr std::size_t kLongestZipDescriptor = 24;

// The bytes right after a member's `packed` bytes of data read as its
// descriptor: with its signature, or else without, whichever names that
// compressed size; nothing when neither does (or the bytes run out).
std::optional<ZipDescriptor> read_zip_descriptor(std::span<const std::uint8_t> bytes,
                                                 std::uint64_t packed, bool zip64);

}  // namespace kestrel
