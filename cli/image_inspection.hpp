#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "cli/command_error.hpp"
#include "recovery-core/partition/partition_table.hpp"
#include "recovery-core/progress/progress_sink.hpp"
#include "recovery-core/scan/report_sink.hpp"
#include "recovery-core/source/image_file_source.hpp"
#include "recovery-core/volume/scan_options.hpp"

namespace kestrel {

// An image opened for inspection, with its partition table found. The image
// stays open so that the scan and the recover commands read through the same
// handle.
struct ImageInspection {
  ImageFileSource source;
  std::string image;  // the path's display text, as typed
  PartitionTable partition_table;
  std::uint64_t capacity_bytes = 0;
  ScanOptions options;  // how the file systems are scanned
};

// Checks the sector size (before anything is opened), opens the image and
// finds its partition table.
std::expected<ImageInspection, CommandError> inspect_image(std::string_view image_path,
                                                           std::uint32_t sector_size,
                                                           const ScanOptions& options = {});

// Scans every partition's file system with the inspection's options, handing
// the reports and their candidates to `sink` as they are found; long searches
// report through `progress`. What the sink got before a failure stays with
// the sink. Each call scans afresh.
std::expected<void, CommandError> scan_image(ImageInspection& inspection, ReportSink& sink,
                                             const ProgressSink& progress = {});

}  // namespace kestrel
