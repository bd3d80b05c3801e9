#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "recovery-core/source/device_info.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// Positional reads from an absolute byte offset. One call reads at most once
// from the underlying medium, so the count may be smaller than the buffer
// (0 at or past the end). No read is cached.
class ByteSource {
 public:
  virtual ~ByteSource() = default;

  virtual std::expected<std::size_t, SourceError> read_at(std::uint64_t offset,
                                                          std::span<std::uint8_t> buffer) = 0;

  // The identity of the source; capacity and logical sector size come from it.
  virtual const DeviceInfo& identity() const = 0;

  std::uint64_t capacity() const { return identity().capacity_bytes; }
  std::uint32_t logical_sector_size() const { return identity().logical_sector_size; }
};

// Fills the whole buffer with one read or fails: a count different from the
// buffer length is the short-read error (expected = buffer length, actual = count).
std::expected<void, SourceError> read_exact(ByteSource& source, std::uint64_t offset,
                                            std::span<std::uint8_t> buffer);

}  // namespace kestrel
