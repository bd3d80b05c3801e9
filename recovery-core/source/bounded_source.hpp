#pragma once

#include <cstdint>
#include <optional>

#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// A view of a source that ends at `end`: a read there or past it gets nothing,
// a read across it gets the bytes before it, exactly as at the end of a medium,
// so callers report the short read they report there. Without an end it reads
// as the source does. The identity is the underlying source's.
class BoundedSource final : public ByteSource {
 public:
  BoundedSource(ByteSource& source, std::optional<std::uint64_t> end)
      : source_(source), end_(end) {}

  std::expected<std::size_t, SourceError> read_at(std::uint64_t offset,
                                                  std::span<std::uint8_t> buffer) override;
  const DeviceInfo& identity() const override { return source_.identity(); }

 private:
  ByteSource& source_;
  std::optional<std::uint64_t> end_;
};

}  // namespace kestrel
