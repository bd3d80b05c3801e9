#pragma once

#include <expected>
#include <filesystem>

#include "os/file_handle.hpp"
#include "recovery-core/extraction/extraction_output.hpp"

namespace kestrel {

// Who makes a recovered file durable: the file output, flushing it when it
// finishes, or the caller, which makes a whole batch durable at once.
enum class FileDurability { FlushedHere, LeftToCaller };

// An extraction written to a new file. The file is created at once; a path
// where anything already is (even a dangling link) fails with the
// destination-exists error and is left alone. A failure part-way leaves the
// bytes written so far in the file.
class FileOutput final : public ExtractionOutput {
 public:
  static std::expected<FileOutput, RecoveryError> create(
      const std::filesystem::path& destination,
      FileDurability durability = FileDurability::FlushedHere);

  std::expected<void, RecoveryError> write(std::span<const std::uint8_t> bytes) override;
  // Gives the file the times that are present, on its open handle (so no
  // link is followed and no other file is touched). Meant for after the last
  // write, before finish().
  std::expected<void, RecoveryError> set_times(const FileTimes& times);
  // Flushes the data to the device (FlushedHere) and closes the file.
  std::expected<void, RecoveryError> finish() override;

 private:
  FileOutput(FileHandle file, FileDurability durability)
      : file_(std::move(file)), durability_(durability) {}

  FileHandle file_;
  FileDurability durability_;
};

}  // namespace kestrel
