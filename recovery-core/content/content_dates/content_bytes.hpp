#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <vector>

#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// The bytes of one file, addressed from its first byte, as the date readers
// see them. Every read is a copy of at most kMaxContentRead bytes, so a reader
// never holds more than a few such windows, whatever the file claims.
class ContentBytes {
 public:
  static constexpr std::size_t kMaxContentRead = 1u << 20;

  virtual ~ContentBytes() = default;

  // How many bytes the file has.
  virtual std::uint64_t size() const = 0;

  // The bytes [position, position + length), cut short at the file's end and
  // at kMaxContentRead; none at or past the end.
  virtual std::expected<std::vector<std::uint8_t>, RecoveryError> read(std::uint64_t position,
                                                                       std::size_t length) = 0;
};

}  // namespace kestrel
