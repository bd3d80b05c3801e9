#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/chains/volume_geometry.hpp"
#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// Reads the root directory of an exFAT volume (its clusters in chain order)
// and returns a candidate for every deleted file entry set that names a data
// cluster, in directory order. Subdirectories are not entered. The root's
// chain clusters must lie in the heap and be readable; a candidate's first
// cluster outside the heap ends the scan with "exFAT cluster outside heap".
std::expected<std::vector<RecoveryCandidate>, RecoveryError> scan_exfat_root(
    ByteSource& source, const ExfatVolume& volume, std::uint32_t partition_index,
    std::uint32_t root_cluster);

}  // namespace kestrel
