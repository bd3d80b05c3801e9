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
#include "recovery-core/image/checkpoint_output.hpp"
#include "recovery-core/image/device_reader.hpp"
#include "recovery-core/image/durability_schedule.hpp"
#include "recovery-core/image/image_file.hpp"
#include "recovery-core/image/imaging_options.hpp"
#include "recovery-core/image/read_error_range.hpp"
#include "recovery-core/json/json_value.hpp"

namespace kestrel {

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

// How one imaging run meets its surroundings.
struct ImagingEnvironment {
  // Receives each progress line, "PROGRESS={done}/{capacity}", without a line feed.
  std::function<void(std::string_view)> progress;
  // Asked between chunks, once the checkpoint of the last chunk is saved; true
  // ends the run with "imaging interrupted", leaving an image and checkpoint
  // that a repeated run resumes.
  std::function<bool()> interrupted;
  // Open the output image and the checkpoint file. The real files unless a
  // test or benchmark needs to look inside (or to lose what was not flushed).
  ImageFileOpener open_image = open_image_file;
  CheckpointOutputOpener open_checkpoint = open_checkpoint_output;
  // How often the image and then its checkpoint are made durable.
  DurabilityInterval durable_every;
};

// Images the device into output_path: a fresh copy from byte 0, or the rest of
// a partial image that the checkpoint vouches for. A sector that stays
// unreadable is written as zeros and listed; any other failure ends the run
// and leaves an image and a checkpoint that the next run resumes from. The
// checkpoint is rewritten after every chunk but made durable only at
// intervals, each time after the image it vouches for; the finished image
// and its checkpoint are durable before the result comes back; removing the
// checkpoint is left to the caller. The device is read, and the chunks
// hashed, on two threads of their own, a few chunks ahead (ChunkReadAhead).
// docs/imaging.md has the order of the start-up checks and of the steps of
// each chunk.
std::expected<ImagingResult, RecoveryError> create_image(
    DeviceReader& reader, const std::filesystem::path& output_path, const ImagingOptions& options,
    const std::optional<ImageCheckpoint>& checkpoint, const std::filesystem::path& checkpoint_path,
    const ImagingEnvironment& environment);

}  // namespace kestrel
