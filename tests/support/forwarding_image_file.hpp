#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <utility>

#include "recovery-core/image/image_file.hpp"

namespace kestrel::testing {

// An image file that passes every call on to a real one; a test or a bench
// overrides the calls it watches and leaves the rest to this.
class ForwardingImageFile : public ImageFile {
 public:
  explicit ForwardingImageFile(std::unique_ptr<ImageFile> real) : real_(std::move(real)) {}

  std::expected<bool, SourceError> is_regular_file() const override {
    return real_->is_regular_file();
  }
  std::expected<void, SourceError> lock_exclusive() override { return real_->lock_exclusive(); }
  std::expected<std::uint64_t, SourceError> length() const override { return real_->length(); }
  std::expected<std::size_t, SourceError> read_fully(std::span<std::uint8_t> buffer) override {
    return real_->read_fully(buffer);
  }
  std::expected<void, SourceError> seek(std::uint64_t offset) override {
    return real_->seek(offset);
  }
  std::expected<void, SourceError> write_all(std::span<const std::uint8_t> buffer) override {
    return real_->write_all(buffer);
  }
  std::expected<void, SourceError> flush() override { return real_->flush(); }
  std::expected<void, SourceError> close() override { return real_->close(); }

 protected:
  ImageFile& real() { return *real_; }

 private:
  std::unique_ptr<ImageFile> real_;
};

}  // namespace kestrel::testing
