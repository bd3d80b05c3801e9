#include "recovery-core/source/byte_source.hpp"

#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

std::expected<void, SourceError> read_exact(ByteSource& source, std::uint64_t offset,
                                            std::span<std::uint8_t> buffer) {
  KESTREL_TRY_ASSIGN(count, source.read_at(offset, buffer));
  if (*count != buffer.size())
    return std::unexpected(SourceError::short_read(buffer.size(), *count));
  return {};
}

}  // namespace kestrel
