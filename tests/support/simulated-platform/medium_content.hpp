#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "os/file_handle.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel::testing {

// The bytes on a simulated medium: held in memory, or in a file that is read
// where the medium is read, so that a medium of gigabytes costs no memory and
// no time to load.
class MediumContent {
 public:
  explicit MediumContent(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  // Content read from the file; fails as the file's own open fails.
  static std::expected<std::shared_ptr<MediumContent>, SourceError> of_file(
      const std::filesystem::path& path);

  // How many bytes the content holds; fails as reading the file's length fails.
  std::expected<std::uint64_t, SourceError> length() const;

  // Copies the bytes the content holds from the offset on into the buffer, as
  // many as it holds there; answers how many (0 past its end).
  std::expected<std::size_t, SourceError> read(std::uint64_t offset,
                                               std::span<std::uint8_t> buffer);

 private:
  explicit MediumContent(FileHandle file) : file_(std::move(file)) {}

  std::vector<std::uint8_t> bytes_;
  std::optional<FileHandle> file_;
};

}  // namespace kestrel::testing
