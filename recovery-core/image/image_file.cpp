#include "recovery-core/image/image_file.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "os/file_handle.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// The most handed to the system in one write; a chunk goes out in pieces of
// this size. On the machine the imaging bench runs on (a virtual machine
// whose host takes back the memory its guest frees) one 1 MiB write often
// cost several times what sixteen of 64 KiB did, most likely because Linux
// caches a file in folios as large as the write and a large folio is carved
// from memory the host must fault in again page by page. Elsewhere the
// pieces cost fifteen more system calls per chunk.
constexpr std::size_t kWritePieceBytes = 65536;  // 64 KiB

// Knows its position so that what it writes can be handed to the device at
// once, in the background: the flushes of a run then find most of the image
// written already instead of waiting for all of it.
class HandleImageFile final : public ImageFile {
 public:
  explicit HandleImageFile(FileHandle handle) : handle_(std::move(handle)) {}

  std::expected<bool, SourceError> is_regular_file() const override {
    return handle_.is_regular_file();
  }
  std::expected<void, SourceError> lock_exclusive() override { return handle_.lock_exclusive(); }
  std::expected<std::uint64_t, SourceError> length() const override { return handle_.length(); }
  std::expected<std::size_t, SourceError> read_fully(std::span<std::uint8_t> buffer) override {
    KESTREL_TRY_ASSIGN(got, handle_.read_fully(buffer));
    position_ += *got;
    return *got;
  }
  std::expected<void, SourceError> seek(std::uint64_t offset) override {
    KESTREL_TRY(handle_.seek(offset));
    position_ = offset;
    return {};
  }
  std::expected<void, SourceError> write_all(std::span<const std::uint8_t> buffer) override {
    for (std::size_t at = 0; at < buffer.size(); at += kWritePieceBytes) {
      KESTREL_TRY(
          handle_.write_all(buffer.subspan(at, std::min(kWritePieceBytes, buffer.size() - at))));
    }
    // Only a head start: whatever goes wrong in writing the bytes back, the
    // flush that makes them durable meets and reports it.
    [[maybe_unused]] const auto started = handle_.start_writeback(position_, buffer.size());
    position_ += buffer.size();
    return {};
  }
  std::expected<void, SourceError> flush() override { return handle_.flush(); }
  std::expected<void, SourceError> close() override { return handle_.close(); }

 private:
  FileHandle handle_;
  std::uint64_t position_ = 0;  // where the handle reads and writes next
};

}  // namespace

std::expected<std::unique_ptr<ImageFile>, SourceError> open_image_file(
    const std::filesystem::path& path) {
  KESTREL_TRY_ASSIGN(handle, FileHandle::open_read_write(path));
  return std::make_unique<HandleImageFile>(std::move(*handle));
}

}  // namespace kestrel
