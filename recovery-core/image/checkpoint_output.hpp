#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// The checkpoint file as one run keeps it: opened once (created, or an old
// one truncated), then each save replaces its whole content with one write
// of the prepared text, in place. What was replaced is on the device only
// once flush() returns. A replacement torn by a crash leaves text that the
// loader refuses (no JSON, something after the object, or a record digest
// that does not match); it is never taken for a checkpoint.
class CheckpointOutput {
 public:
  virtual ~CheckpointOutput() = default;

  // From now on the file holds exactly `text`.
  virtual std::expected<void, SourceError> replace(std::span<const std::uint8_t> text) = 0;
  // Pushes the content last replaced to the device.
  virtual std::expected<void, SourceError> flush() = 0;
  virtual std::expected<void, SourceError> close() = 0;
};

using CheckpointOutputOpener =
    std::function<std::expected<std::unique_ptr<CheckpointOutput>, RecoveryError>(
        const std::filesystem::path&)>;

// The real file, created or truncated; a path that leads to anything but a
// regular file (a device, a pipe) is refused before a byte is written.
std::expected<std::unique_ptr<CheckpointOutput>, RecoveryError> open_checkpoint_output(
    const std::filesystem::path& path);

}  // namespace kestrel
