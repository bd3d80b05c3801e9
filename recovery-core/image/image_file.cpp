#include "recovery-core/image/image_file.hpp"

#include <utility>

#include "os/file_handle.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

class HandleImageFile final : public ImageFile {
 public:
  explicit HandleImageFile(FileHandle handle) : handle_(std::move(handle)) {}

  std::expected<bool, SourceError> is_regular_file() const override {
    return handle_.is_regular_file();
  }
  std::expected<void, SourceError> lock_exclusive() override { return handle_.lock_exclusive(); }
  std::expected<std::uint64_t, SourceError> length() const override { return handle_.length(); }
  std::expected<std::size_t, SourceError> read_fully(std::span<std::uint8_t> buffer) override {
    return handle_.read_fully(buffer);
  }
  std::expected<void, SourceError> seek(std::uint64_t offset) override {
    return handle_.seek(offset);
  }
  std::expected<void, SourceError> write_all(std::span<const std::uint8_t> buffer) override {
    return handle_.write_all(buffer);
  }
  std::expected<void, SourceError> flush() override { return handle_.flush(); }
  std::expected<void, SourceError> close() override { return handle_.close(); }

 private:
  FileHandle handle_;
};

}  // namespace

std::expected<std::unique_ptr<ImageFile>, SourceError> open_image_file(
    const std::filesystem::path& path) {
  KESTREL_TRY_ASSIGN(handle, FileHandle::open_read_write(path));
  return std::make_unique<HandleImageFile>(std::move(*handle));
}

}  // namespace kestrel
