#include "recovery-core/extraction/file_output.hpp"

namespace kestrel {

std::expected<FileOutput, RecoveryError> FileOutput::create(
    const std::filesystem::path& destination, FileDurability durability) {
  auto file = FileHandle::create_new(destination);
  if (!file) {
    if (file.error().io_kind() == IoErrorKind::AlreadyExists)
      return std::unexpected(RecoveryError::destination_exists());
    return std::unexpected(RecoveryError::io(file.error()));
  }
  return FileOutput(std::move(*file), durability);
}

std::expected<void, RecoveryError> FileOutput::write(std::span<const std::uint8_t> bytes) {
  if (auto written = file_.write_all(bytes); !written)
    return std::unexpected(RecoveryError::io(written.error()));
  return {};
}

std::expected<void, RecoveryError> FileOutput::set_times(const FileTimes& times) {
  if (auto set = file_.set_times(times); !set)
    return std::unexpected(RecoveryError::io(set.error()));
  return {};
}

std::expected<void, RecoveryError> FileOutput::finish() {
  if (durability_ == FileDurability::FlushedHere) {
    if (auto flushed = file_.flush(); !flushed)
      return std::unexpected(RecoveryError::io(flushed.error()));
  }
  if (auto closed = file_.close(); !closed)
    return std::unexpected(RecoveryError::io(closed.error()));
  return {};
}

}  // namespace kestrel
