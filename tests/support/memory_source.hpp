#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "recovery-core/source/byte_source.hpp"

namespace kestrel::testing {

// A ByteSource over bytes in memory, with an identity like an image file's.
// It counts reads and can be told to fail reads that touch a byte range.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::vector<std::uint8_t> bytes, std::uint32_t sector_size = 512);

  std::expected<std::size_t, SourceError> read_at(std::uint64_t offset,
                                                  std::span<std::uint8_t> buffer) override;
  const DeviceInfo& identity() const override { return identity_; }

  std::vector<std::uint8_t>& bytes() { return bytes_; }
  std::size_t read_count() const { return read_count_; }
  std::uint64_t bytes_read() const { return bytes_read_; }
  // The longest buffer any single read asked to fill.
  std::size_t largest_read() const { return largest_read_; }

  // Reads overlapping [offset, offset + length) fail with this error.
  void fail_range(std::uint64_t offset, std::uint64_t length, SourceError error);

 private:
  struct Failure {
    std::uint64_t offset;
    std::uint64_t length;
    SourceError error;
  };

  std::vector<std::uint8_t> bytes_;
  DeviceInfo identity_;
  std::vector<Failure> failures_;
  std::size_t read_count_ = 0;
  std::uint64_t bytes_read_ = 0;
  std::size_t largest_read_ = 0;
};

}  // namespace kestrel::testing
