#pragma once

#include <cstdint>
#include <span>

namespace kestrel {

// Whether `bytes`, the start of a cluster (the whole cluster or a first part of
// it, a multiple of 32 bytes), still holds exFAT directory entries. Read from
// its first entry up to an end-of-directory entry or the end of the bytes:
// - every entry has a type a directory may hold (in use or not);
// - every File entry set that lies wholly inside the bytes is well formed (a
//   Stream Extension first, then at least one more secondary, all of them
//   secondaries in use exactly when the File entry is) and its set checksum
//   holds;
// - there is at least one such set.
// Secondaries before the first File entry (the end of a set that began in the
// cluster before) and a set cut off by the end of the bytes are passed over.
// File data, zeroed clusters and directory entries whose sets were torn by
// later writes fail; the sets of a deleted folder or of a directory's freed
// clusters pass.
bool holds_exfat_entry_sets(std::span<const std::uint8_t> bytes);

// Whether one File entry set (the File entry and all its secondaries) is well
// formed and its checksum holds, as holds_exfat_entry_sets requires.
bool is_sound_exfat_file_set(std::span<const std::uint8_t> set);

}  // namespace kestrel
