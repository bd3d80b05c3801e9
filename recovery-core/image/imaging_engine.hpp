#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/image/checkpoint.hpp"
#include "recovery-core/image/checkpoint_file.hpp"
#include "recovery-core/image/device_reader.hpp"
#include "recovery-core/image/image_file.hpp"
#include "recovery-core/image/read_error_range.hpp"
#include "recovery-core/json/json_value.hpp"

namespace kestrel {

// How a run copies. The image command asks for 1 MiB chunks, two retries, the
// sector fallback, and resuming unless told --no-resume.
struct ImagingOptions {
  std::uint64_t chunk_size = 1048576;  // one read and one write; whole sectors
  std::uint8_t read_retries = 2;       // immediate repeats of a failed read, chunk or sector
  bool resume = true;                  // an output that exists may be continued
  bool sector_fallback = true;         // a chunk that stays unreadable is retaken sector by sector
};

// What a run did; also the image command's result document.
struct ImagingResult {
  std::uint64_t source_capacity = 0;
  std::uint64_t bytes_written = 0;  // how long the image is now
  std::uint64_t resumed_from = 0;   // how long it was before this run
  std::string sha256;               // of everything in the image, whichever run wrote it
  bool complete = false;
  std::vector<ReadErrorRange> read_errors;  // all zero-filled runs so far, by offset

  friend bool operator==(const ImagingResult&, const ImagingResult&) = default;
};

// The members in declaration order, read_errors as an array of range objects.
JsonValue to_json(const ImagingResult& result);

using CheckpointSaver = std::function<std::expected<void, RecoveryError>(
    const std::filesystem::path&, const ImageCheckpoint&)>;

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

// Images the device into output_path: a fresh copy from byte 0, or the rest of
// a partial image that the checkpoint vouches for. A sector that stays
// unreadable is written as zeros and listed; any other failure ends the run
// and leaves an image and a checkpoint that the next run resumes from. The
// finished image is flushed before the result comes back; removing the
// checkpoint is left to the caller. docs/imaging.md has the order of the
// start-up checks and of the steps of each chunk.
std::expected<ImagingResult, RecoveryError> create_image(
    DeviceReader& reader, const std::filesystem::path& output_path, const ImagingOptions& options,
    const std::optional<ImageCheckpoint>& checkpoint, const std::filesystem::path& checkpoint_path,
    const ImagingEnvironment& environment);

}  // namespace kestrel
