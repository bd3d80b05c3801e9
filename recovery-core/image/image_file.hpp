#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>

#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// The output image as the imaging engine uses it. The real one is a file
// opened for reading and writing (open_image_file); tests and benchmarks wrap
// it to watch or fail single operations.
class ImageFile {
 public:
  virtual ~ImageFile() = default;

  virtual std::expected<bool, SourceError> is_regular_file() const = 0;
  // An exclusive lock held until the file is closed; fails at once when
  // another run holds it.
  virtual std::expected<void, SourceError> lock_exclusive() = 0;
  virtual std::expected<std::uint64_t, SourceError> length() const = 0;
  // Reads at the current position until the buffer is full or the file ends.
  virtual std::expected<std::size_t, SourceError> read_fully(std::span<std::uint8_t> buffer) = 0;
  virtual std::expected<void, SourceError> seek(std::uint64_t offset) = 0;
  // Writes the whole buffer at the current position.
  virtual std::expected<void, SourceError> write_all(std::span<const std::uint8_t> buffer) = 0;
  // Pushes the file's data to the device.
  virtual std::expected<void, SourceError> flush() = 0;
  virtual std::expected<void, SourceError> close() = 0;
};

using ImageFileOpener = std::function<std::expected<std::unique_ptr<ImageFile>, SourceError>(
    const std::filesystem::path&)>;

// The real image file: opened for reading and writing, created when missing,
// never truncated.
std::expected<std::unique_ptr<ImageFile>, SourceError> open_image_file(
    const std::filesystem::path& path);

}  // namespace kestrel
