#include "recovery-core/source/bounded_source.hpp"

#include <algorithm>

namespace kestrel {

std::expected<std::size_t, SourceError> BoundedSource::read_at(std::uint64_t offset,
                                                               std::span<std::uint8_t> buffer) {
  if (!end_) return source_.read_at(offset, buffer);
  if (offset >= *end_) return 0;
  const std::uint64_t room = *end_ - offset;
  return source_.read_at(
      offset, buffer.first(static_cast<std::size_t>(std::min<std::uint64_t>(room, buffer.size()))));
}

}  // namespace kestrel
