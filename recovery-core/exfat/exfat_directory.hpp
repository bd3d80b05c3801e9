#pragma once

#include <cstdint>
#include <expected>
#include <optional>

#include "recovery-core/candidates/candidate_builder.hpp"
#include "recovery-core/candidates/candidate_sink.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/exfat/exfat_geometry.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Where an exFAT directory's data lies.
struct ExfatDirectoryExtent {
  std::uint32_t first_cluster = 0;
  // The clusters follow each other from first_cluster and the FAT is not
  // read; `length` then says how many there are.
  bool no_fat_chain = false;
  // The directory's size in bytes; absent for the root, whose data is every
  // cluster of its FAT chain.
  std::optional<std::uint64_t> length;
};

// Reads one directory and hands `sink`, in directory order, a candidate for
// every deleted file whose entries point at data; subdirectories are not
// entered. Ids count bytes from the start of this directory's data. Errors: a
// directory cluster outside the heap or unreadable, a candidate whose first
// cluster lies outside the heap. An entry set cut off by the end of the data
// quietly ends the directory.
std::expected<void, RecoveryError> scan_exfat_directory(
    ByteSource& source, const ExfatGeometry& volume, std::uint32_t partition_index,
    const ExfatDirectoryExtent& directory, CandidateBuilder& builder, CandidateSink& sink);

// The root directory of the volume, with a builder of its own.
std::expected<void, RecoveryError> scan_exfat_root(ByteSource& source, const ExfatGeometry& volume,
                                                   std::uint32_t partition_index,
                                                   std::uint32_t root_cluster, CandidateSink& sink);

}  // namespace kestrel
