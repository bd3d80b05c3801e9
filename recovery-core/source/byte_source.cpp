#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

std::expected<void, SourceError> read_exact(ByteSource& source, std::uint64_t offset,
                                            std::span<std::uint8_t> buffer) {
  auto count = source.read_at(offset, buffer);
  if (!count) return std::unexpected(count.error());
  if (*count != buffer.size())
    return std::unexpected(SourceError::short_read(buffer.size(), *count));
  return {};
}

}  // namespace kestrel
