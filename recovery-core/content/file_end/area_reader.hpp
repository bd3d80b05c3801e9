#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Reads a source mostly forward through one window of fixed size, so that a
// search that moves through an area, and the end rules it calls on the way,
// share what has been read: each byte of a forward walk is read once, in
// large reads. A view behind the window or past its end moves the window;
// a backward view reads only a small block, so that the forward read after
// it is the large one again.
class AreaReader {
 public:
  static constexpr std::size_t kWindowBytes = 8u << 20;
  // The longest view there is; longer requests get this much.
  static constexpr std::size_t kMaxView = 1u << 20;

  explicit AreaReader(ByteSource& source, std::size_t window_bytes = kWindowBytes);

  // The bytes [offset, offset + length), cut short at `limit` (which must not
  // lie past the source's end) and at kMaxView. Valid until the next call.
  std::expected<std::span<const std::uint8_t>, RecoveryError> view(std::uint64_t offset,
                                                                   std::size_t length,
                                                                   std::uint64_t limit);

  // Bytes read from the source so far.
  std::uint64_t bytes_read() const { return bytes_read_; }

 private:
  std::expected<void, RecoveryError> refill(std::uint64_t offset, std::size_t wanted,
                                            std::uint64_t limit);

  ByteSource& source_;
  std::vector<std::uint8_t> window_;
  std::uint64_t window_start_ = 0;
  std::size_t window_fill_ = 0;
  std::uint64_t bytes_read_ = 0;
};

}  // namespace kestrel
