#include "recovery-core/image/checkpoint_output.hpp"

#include <string>
#include <utility>

#include "os/file_handle.hpp"
#include "recovery-core/image/imaging_messages.hpp"

namespace kestrel {

namespace {

std::expected<FileHandle, RecoveryError> open_regular_file(const std::filesystem::path& path) {
  auto file = FileHandle::create_or_truncate(path);
  if (!file) return std::unexpected(RecoveryError::io(file.error()));
  auto regular = file->is_regular_file();
  if (!regular) return std::unexpected(RecoveryError::io(regular.error()));
  if (!*regular) {
    return std::unexpected(RecoveryError::io(io_error_custom(
        IoErrorKind::InvalidInput, std::string(imaging_messages::kCheckpointNotRegularFile))));
  }
  return std::move(*file);
}

class FileCheckpointOutput final : public CheckpointOutput {
 public:
  FileCheckpointOutput(std::filesystem::path path, FileHandle file)
      : path_(std::move(path)), file_(std::move(file)) {}

  // Within a run the text only grows (bytes_written and the ranges do not
  // shrink), so it overwrites the old one from the start and covers it. A
  // shorter text would leave the old one's tail: the file is truncated first.
  std::expected<void, SourceError> replace(std::span<const std::uint8_t> text) override {
    if (text.size() < length_) {
      auto reopened = FileHandle::create_or_truncate(path_);
      if (!reopened) return std::unexpected(reopened.error());
      file_ = std::move(*reopened);
    } else if (auto sought = file_.seek(0); !sought) {
      return std::unexpected(sought.error());
    }
    if (auto written = file_.write_all(text); !written) return std::unexpected(written.error());
    length_ = text.size();
    return {};
  }
  std::expected<void, SourceError> flush() override { return file_.flush(); }
  std::expected<void, SourceError> close() override { return file_.close(); }

 private:
  std::filesystem::path path_;
  FileHandle file_;
  std::size_t length_ = 0;
};

}  // namespace

std::expected<std::unique_ptr<CheckpointOutput>, RecoveryError> open_checkpoint_output(
    const std::filesystem::path& path) {
  auto file = open_regular_file(path);
  if (!file) return std::unexpected(file.error());
  return std::make_unique<FileCheckpointOutput>(path, std::move(*file));
}

}  // namespace kestrel
