#pragma once

#include <cstdint>
#include <expected>

#include "recovery-core/candidates/candidate_sink.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/fat/fat_geometry.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// How far a volume's walk goes.
enum class Fat32Walk {
  // The live directory tree; candidates carry no folder.
  LiveTree,
  // The live tree and the deleted folders whose first cluster is free and
  // still starts with the "." entry naming it and ".." (see
  // starts_fat32_directory), each read from that one cluster, since deletion
  // cleared the rest of its chain; a cleared high word of the folder's entry
  // is found again through its "." entry. Every candidate carries its folder
  // path, and those inside a deleted folder a note saying so. Damage met in a
  // deleted folder only ends that folder, and one budget of directory
  // clusters bounds the whole walk.
  AllDirectories,
};

// Walks the volume's directory tree from `root_cluster`, depth first, and
// hands `sink` a candidate for every deleted file that names a data cluster,
// each subdirectory's candidates at the place of its entry. Directories more
// than 32 levels below the root, and directories already walked (loops,
// cross-links), are skipped quietly. Errors: an unreadable directory cluster,
// an offset overflow, a cluster size beyond 32 bits.
std::expected<void, RecoveryError> scan_fat32_volume(ByteSource& source, const FatGeometry& volume,
                                                     std::uint32_t root_cluster,
                                                     CandidateSink& sink,
                                                     Fat32Walk walk = Fat32Walk::LiveTree);

// Lists the files of a directory that no walk reaches any more, starting at
// the free `cluster` (which the caller found to start with "." naming it and
// "..", see starts_fat32_directory): deleted files by the rules of a deleted
// folder's, live files too (with `deleted` false, since nothing else lists
// them), without a folder path, each with the lost-directory note. Ids have
// the usual FAT32 form. Its folders are not entered: their clusters, when
// free, are found the same way. Damage met in it ends only this listing.
std::expected<SinkReply, RecoveryError> list_lost_fat32_directory(ByteSource& source,
                                                                  const FatGeometry& volume,
                                                                  std::uint32_t cluster,
                                                                  CandidateSink& sink);

}  // namespace kestrel
