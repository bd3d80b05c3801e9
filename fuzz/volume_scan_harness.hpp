#pragma once

#include <cstdint>
#include <span>

#include "recovery-core/candidates/scan_report.hpp"

namespace kestrel::fuzzing {

// The body of the FAT12/16, FAT32, exFAT and NTFS harnesses. The input is a disk image in the
// sparse form (sparse_image_input.hpp); option bit 0 walks every folder, bit 1
// reads the image with 4096-byte logical sectors, bit 2 carves free space (of
// an image up to 64 MiB: carving reads all of it), bit 3 plans deleted files
// around the clusters of others (--untangle). The image goes through what
// the scan command does (partition table, then each partition's file system),
// and every candidate of a volume of one of `kinds` is extracted into memory, when its
// planned length fits a destination of one megabyte. Properties: the reports
// render as JSON; an extraction writes no more than it planned, and one that
// succeeds wrote exactly the candidate's size and finished.
void scan_and_extract(std::span<const std::uint8_t> input, std::span<const FilesystemKind> kinds);

}  // namespace kestrel::fuzzing
