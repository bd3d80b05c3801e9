#pragma once

#include <cstdint>
#include <expected>

#include "recovery-core/candidates/candidate_sink.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/exfat/exfat_geometry.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Walks every folder of the volume from the root, depth first in directory
// order, and hands `sink` a candidate for every deleted file whose entries
// point at data, each carrying the path of its folder:
// - live subdirectories are walked where their entry stands;
// - a deleted folder is walked when its clusters are free and still hold entry
//   sets whose checksums hold; its files carry a note saying where they were
//   found;
// - when a directory's clusters run out without an end-of-directory entry, the
//   free clusters that directly follow them are read on as long as they hold
//   sound entry sets (a driver that shrinks directories frees them with the
//   deleted entries still in them). These are followed once everything
//   reachable through entries has been walked, so that a deleted folder that
//   happens to lie there is read as itself.
// Entry sets read from freed clusters count only when sound (see
// is_sound_exfat_file_set). Root candidates are exactly those of
// scan_exfat_root with the same ids; others get exfat_folder_candidate_id.
// Subdirectories deeper than 32 levels are skipped, no cluster is walked twice,
// and every directory cluster looked at spends from one budget per volume.
// Errors: only what fails scan_exfat_root too (the root's own clusters, its
// chain, a root candidate outside the heap); damage met anywhere else ends or
// skips just the directory or the file concerned.
std::expected<void, RecoveryError> scan_exfat_tree(ByteSource& source, const ExfatGeometry& volume,
                                                   std::uint32_t partition_index,
                                                   std::uint32_t root_cluster, CandidateSink& sink);

}  // namespace kestrel
