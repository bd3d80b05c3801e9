#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>

#include "os/file_handle.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/errors/source_error.hpp"
#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/source/device_info.hpp"

namespace kestrel {

// A disk image file read at absolute offsets. The file stays open for the
// life of the source; every read positions afresh.
class ImageFileSource final : public ByteSource {
 public:
  ImageFileSource(DeviceInfo identity, FileHandle file)
      : identity_(std::move(identity)), file_(std::move(file)) {}

  std::expected<std::size_t, SourceError> read_at(std::uint64_t offset,
                                                  std::span<std::uint8_t> buffer) override;
  const DeviceInfo& identity() const override { return identity_; }

 private:
  DeviceInfo identity_;
  FileHandle file_;
};

// The DeviceInfo an image file gets: file-backed, named after its path, sized
// by `length`, with the sector size the caller chose.
DeviceInfo image_file_identity(const std::string& path_text, std::uint64_t length,
                               std::uint32_t sector_size);

// Opens an image file under the source guards: metadata first, then the
// identity checks (an empty file is refused), then a shared open, then the
// length is read again from the handle and must not have changed. Metadata
// that cannot be read is the Io kind with the system's failure; every later
// failure is the Source kind.
std::expected<ImageFileSource, RecoveryError> open_image_source(const std::filesystem::path& path,
                                                                std::uint32_t sector_size);

}  // namespace kestrel
