#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/partition/partition_table.hpp"
#include "recovery-core/progress/progress_sink.hpp"
#include "recovery-core/scan/scan_options.hpp"
#include "recovery-core/source/image_file_source.hpp"

namespace kestrel {

// Everything a scan finds in an image, with the image still open so that the
// recover commands read candidate data through the same handle.
struct ImageInspection {
  ImageFileSource source;
  std::string image;  // the path's display text, as typed
  PartitionTable partition_table;
  std::vector<FilesystemReport> filesystems;
  std::uint64_t capacity_bytes = 0;
  ScanOptions options;  // how the file systems were scanned
};

// Checks the sector size (before anything is opened), opens the image, finds
// its partition table and scans every partition's file system with `options`.
// Long searches report through `progress`. The error is the message the run
// ends with.
std::expected<ImageInspection, std::string> inspect_image(std::string_view image_path,
                                                          std::uint32_t sector_size,
                                                          const ScanOptions& options = {},
                                                          const ProgressSink& progress = {});

// The scan document: "image", "capacity_bytes", "partition_table", "filesystems";
// its candidates end with "directory" when every folder was walked.
JsonValue to_json(const ImageInspection& inspection);

}  // namespace kestrel
