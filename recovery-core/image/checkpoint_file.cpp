#include "recovery-core/image/checkpoint_file.hpp"

#include <span>
#include <vector>

#include "os/file_handle.hpp"
#include "os/file_system.hpp"
#include "recovery-core/image/checkpoint_output.hpp"
#include "recovery-core/image/checkpoint_parser.hpp"
#include "recovery-core/image/imaging_messages.hpp"
#include "recovery-core/json/json_layout.hpp"

namespace kestrel {

namespace {

std::string too_large_text() {
  return "file is larger than " + std::to_string(kCheckpointFileLimit) + " bytes";
}

RecoveryError unreadable(const SourceError& error) {
  return RecoveryError::checkpoint_unreadable(error.io_failure());
}

// The whole text of an open checkpoint file. Nothing but a regular file is
// read: a path that leads to a device must not read the device, one that
// leads to a pipe must not wait. A directory is left to the read, which fails
// with the system's own text.
std::expected<std::vector<std::uint8_t>, RecoveryError> read_checkpoint_bytes(FileHandle& file) {
  auto regular = file.is_regular_file();
  if (!regular) return std::unexpected(unreadable(regular.error()));
  if (!*regular) {
    auto directory = file.is_directory();
    if (!directory) return std::unexpected(unreadable(directory.error()));
    if (!*directory) {
      return std::unexpected(
          RecoveryError::invalid_checkpoint(std::string(imaging_messages::kNotRegularFile)));
    }
  }
  auto length = file.length();
  if (!length) return std::unexpected(unreadable(length.error()));
  if (*length > kCheckpointFileLimit) {
    return std::unexpected(RecoveryError::invalid_checkpoint(too_large_text()));
  }
  // One byte more than the file claims, so a file that grew since its length
  // was taken is noticed without reading past the limit.
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*length) + 1);
  auto read = file.read_fully(bytes);
  if (!read) return std::unexpected(unreadable(read.error()));
  if (*read > *length) {
    return std::unexpected(
        RecoveryError::invalid_checkpoint(std::string(imaging_messages::kFileChangedWhileRead)));
  }
  bytes.resize(*read);
  return bytes;
}

}  // namespace

std::expected<std::string, RecoveryError> checkpoint_text(const ImageCheckpoint& checkpoint) {
  auto text = render_json(to_json(checkpoint));
  if (!text) {
    return std::unexpected(
        RecoveryError::io(io_error_custom(IoErrorKind::InvalidData, text.error().message())));
  }
  if (text->size() > kCheckpointFileLimit) {
    return std::unexpected(RecoveryError::io(
        io_error_custom(IoErrorKind::FileTooLarge, "image checkpoint " + too_large_text())));
  }
  return std::move(*text);
}

std::expected<void, RecoveryError> save_checkpoint(const std::filesystem::path& path,
                                                   const ImageCheckpoint& checkpoint) {
  auto text = checkpoint_text(checkpoint);
  if (!text) return std::unexpected(text.error());
  auto file = open_checkpoint_output(path);
  if (!file) return std::unexpected(file.error());
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text->data()),
                                            text->size());
  if (auto written = (*file)->replace(bytes); !written) {
    return std::unexpected(RecoveryError::io(written.error()));
  }
  if (auto flushed = (*file)->flush(); !flushed)
    return std::unexpected(RecoveryError::io(flushed.error()));
  if (auto closed = (*file)->close(); !closed)
    return std::unexpected(RecoveryError::io(closed.error()));
  return {};
}

std::expected<std::optional<ImageCheckpoint>, RecoveryError> load_checkpoint(
    const std::filesystem::path& path, bool partial_image_exists) {
  auto file = FileHandle::open_for_reading(path);
  if (!file) {
    if (file.error().io_kind() != IoErrorKind::NotFound)
      return std::unexpected(unreadable(file.error()));
    if (partial_image_exists) {
      return std::unexpected(RecoveryError::checkpoint_missing(path_display(path)));
    }
    return std::optional<ImageCheckpoint>{};
  }
  auto bytes = read_checkpoint_bytes(*file);
  if (!bytes) return std::unexpected(bytes.error());
  auto checkpoint = parse_checkpoint(
      std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  if (!checkpoint) return std::unexpected(checkpoint.error());
  return std::optional<ImageCheckpoint>(std::move(*checkpoint));
}

}  // namespace kestrel
