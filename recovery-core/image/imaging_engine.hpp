#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recovery-core/image/checkpoint.hpp"
#include "recovery-core/image/checkpoint_file.hpp"
#include "recovery-core/image/device_reader.hpp"
#include "recovery-core/image/image_file.hpp"
#include "recovery-core/image/read_error_range.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

struct ImagingOptions {
  std::uint64_t chunk_size = 1048576;  // bytes per read and write; a sector multiple
  std::uint8_t read_retries = 2;       // extra attempts after a failed read (chunk or sector)
  bool resume = true;                  // whether an existing image may be continued
  bool sector_fallback = true;         // re-read an unreadable chunk sector by sector
};

struct ImagingResult {
  std::uint64_t source_capacity = 0;
  std::uint64_t bytes_written = 0;  // length of the image at the end of the run
  std::uint64_t resumed_from = 0;   // length of the image when the run started
  std::string sha256;               // of the whole image, earlier runs' bytes included
  bool complete = false;
  std::vector<ReadErrorRange> read_errors;  // every zero-filled run, ascending

  friend bool operator==(const ImagingResult&, const ImagingResult&) = default;
};

// {"source_capacity", "bytes_written", "resumed_from", "sha256", "complete", "read_errors"}.
JsonValue to_json(const ImagingResult& result);

using CheckpointSaver =
    std::function<std::expected<void, RecoveryError>(const std::filesystem::path&, const ImageCheckpoint&)>;

// How one imaging run meets its surroundings.
struct ImagingEnvironment {
  // Receives each progress line, "PROGRESS={done}/{capacity}", without a line feed.
  std::function<void(std::string_view)> progress;
  // Asked between chunks, once the checkpoint of the last chunk is saved; true
  // ends the run with "imaging interrupted", leaving an image and checkpoint
  // that a repeated run resumes.
  std::function<bool()> interrupted;
  // Open the output image and write checkpoints. The real file and
  // save_checkpoint unless a test or benchmark needs to look inside.
  ImageFileOpener open_image = open_image_file;
  CheckpointSaver save_checkpoint = kestrel::save_checkpoint;
};

// Copies the whole device, from byte 0 to its capacity, into the image at
// output_path, continuing a partial image under a loaded checkpoint.
//
// Start-up, first failure wins: the chunk size must be a non-zero sector
// multiple; an existing output is refused ("destination already exists") when
// resuming is off or when it is not a regular file (after following links, and
// again on the opened file); the output is opened (created, never truncated)
// and locked against a second run for the whole run; an image longer than the
// device, not sector aligned, or non-empty without a checkpoint is refused; a
// checkpoint is validated and the image's existing bytes re-hashed once and
// compared with it; then a first checkpoint is saved.
//
// Each chunk is read with immediate retries; a chunk whose transfer stays
// unreadable with the generic I/O error is re-read sector by sector, and every
// sector whose transfer still fails becomes zeros and a ReadErrorRange
// (adjacent ones with the same text merged). Any other read error, including a
// generic one that arose before the transfer, ends the run unchanged. After each chunk
// the image is written, the running SHA-256 fed, a checkpoint saved, a
// progress line given, and then the interruption query asked. A finished
// image is flushed to the device before the result is returned; the
// checkpoint file is left for the caller to remove.
std::expected<ImagingResult, RecoveryError> create_image(
    DeviceReader& reader, const std::filesystem::path& output_path, const ImagingOptions& options,
    const std::optional<ImageCheckpoint>& checkpoint, const std::filesystem::path& checkpoint_path,
    const ImagingEnvironment& environment);

}  // namespace kestrel
