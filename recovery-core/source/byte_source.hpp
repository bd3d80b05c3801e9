#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "recovery-core/errors/source_error.hpp"
#include "recovery-core/source/device_info.hpp"

namespace kestrel {

// Where the core gets its bytes: an image file or a device, addressed by
// absolute offset. read_at makes a single request to the medium and reports
// how many bytes came back; a shorter count is not a failure at this level
// (past the end nothing comes back), so callers that need the whole buffer go
// through read_exact. Every call reaches the medium; nothing is remembered.
class ByteSource {
 public:
  virtual ~ByteSource() = default;

  virtual std::expected<std::size_t, SourceError> read_at(std::uint64_t offset,
                                                          std::span<std::uint8_t> buffer) = 0;

  // Who the source is; its size and sector size are read from here.
  virtual const DeviceInfo& identity() const = 0;

  std::uint64_t capacity() const { return identity().capacity_bytes; }
  std::uint32_t logical_sector_size() const { return identity().logical_sector_size; }
};

// One read that must fill the buffer. Any other count is turned into the
// short-read error, carrying the buffer's length and the count received.
std::expected<void, SourceError> read_exact(ByteSource& source, std::uint64_t offset,
                                            std::span<std::uint8_t> buffer);

}  // namespace kestrel
