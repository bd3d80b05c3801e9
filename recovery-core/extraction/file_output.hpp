#pragma once

#include <expected>
#include <filesystem>

#include "os/file_handle.hpp"
#include "recovery-core/extraction/extraction_output.hpp"

namespace kestrel {

// An extraction written to a new file. The file is created at once; a path
// where anything already is (even a dangling link) fails with the
// destination-exists error and is left alone. A failure part-way leaves the
// bytes written so far in the file.
class FileOutput final : public ExtractionOutput {
 public:
  static std::expected<FileOutput, RecoveryError> create(const std::filesystem::path& destination);

  std::expected<void, RecoveryError> write(std::span<const std::uint8_t> bytes) override;
  // Flushes the data to the device and closes the file.
  std::expected<void, RecoveryError> finish() override;

 private:
  explicit FileOutput(FileHandle file) : file_(std::move(file)) {}

  FileHandle file_;
};

}  // namespace kestrel
