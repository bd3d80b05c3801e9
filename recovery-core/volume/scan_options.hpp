#pragma once

namespace kestrel {

// What a caller asks of a scan beyond what every scan does. Each field is an
// option of the command line; left at its default, the scan and its document
// are exactly those of a scan without options.
struct ScanOptions {
  // Walk every folder: exFAT subdirectories, deleted folders whose clusters
  // still hold them, and the freed clusters just past a shrunk exFAT
  // directory. Candidates then carry their folder path.
  bool all_directories = false;
  // Also search the free space of every volume, and the whole of every area
  // without a recognised file system, for files by their content.
  bool carve = false;
  // Write each candidate's dates; recovered files take them on.
  bool timestamps = false;
  // Read a deleted file that lost its chain around the clusters other files
  // hold, where the directory entries of the volume explain every cluster
  // passed over (FAT family and exFAT).
  bool untangle = false;
};

}  // namespace kestrel
