#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "recovery-core/candidates/candidate_builder.hpp"

namespace kestrel {

// The deleted file an entry set (its File entry and secondaries) describes: a
// File entry no longer in use whose first Stream Extension names a first
// cluster of 2 or more and a non-zero length. Attributes are not read, so a
// deleted directory is a deleted file too. Nothing for any other set. The
// facts come without an id; the caller gives the id of its directory's form.
std::optional<DeletedFileFacts> exfat_deleted_file(std::span<const std::uint8_t> set,
                                                   std::uint32_t partition_index);

// The file a File entry set describes whether or not it is still in use
// (`deleted` says which), under the same conditions on its Stream Extension.
std::optional<DeletedFileFacts> exfat_file_facts(std::span<const std::uint8_t> set,
                                                 std::uint32_t partition_index);

// The id of a candidate found outside the root directory:
// "exfat:<partition index>:<first cluster of its directory>:<entry offset>",
// the offset counting bytes from the start of that directory's data. Root
// candidates keep the two-number form of candidate_id, so the two cannot be
// taken for each other.
std::string exfat_folder_candidate_id(std::uint32_t partition_index,
                                      std::uint32_t directory_cluster, std::uint64_t entry_offset);

}  // namespace kestrel
