#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "recovery-core/source/byte_source.hpp"

namespace kestrel::testing {

// A ByteSource of any claimed length whose bytes are zero except where a test
// wrote them; only written pages take memory. It records the largest single
// read, so a test can see that a reader never asked for more than it should
// hold, and can be told to fail reads touching a byte range.
class SparseSource final : public ByteSource {
 public:
  explicit SparseSource(std::uint64_t capacity, std::uint32_t sector_size = 512);

  std::expected<std::size_t, SourceError> read_at(std::uint64_t offset,
                                                  std::span<std::uint8_t> buffer) override;
  const DeviceInfo& identity() const override { return identity_; }

  void write(std::uint64_t offset, std::span<const std::uint8_t> bytes);
  void write_u32(std::uint64_t offset, std::uint32_t value);
  std::uint8_t byte_at(std::uint64_t offset) const;
  void fail_range(std::uint64_t offset, std::uint64_t length, SourceError error);

  std::size_t largest_read() const { return largest_read_; }
  std::size_t read_count() const { return read_count_; }

 private:
  static constexpr std::uint64_t kPage = 4096;
  struct Failure {
    std::uint64_t offset;
    std::uint64_t length;
    SourceError error;
  };

  DeviceInfo identity_;
  std::map<std::uint64_t, std::vector<std::uint8_t>> pages_;
  std::vector<Failure> failures_;
  std::size_t largest_read_ = 0;
  std::size_t read_count_ = 0;
};

}  // namespace kestrel::testing
