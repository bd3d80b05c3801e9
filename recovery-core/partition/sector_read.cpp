#include "recovery-core/partition/sector_read.hpp"

#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

std::expected<std::vector<std::uint8_t>, RecoveryError> read_one_sector(ByteSource& source,
                                                                        std::uint64_t capacity,
                                                                        std::uint64_t offset,
                                                                        std::uint32_t sector_size) {
  const std::uint64_t available = offset < capacity ? capacity - offset : 0;
  if (available >= sector_size) {
    std::vector<std::uint8_t> sector(sector_size);
    KESTREL_TRY(read_exact(source, offset, sector));
    return sector;
  }
  std::vector<std::uint8_t> present(static_cast<std::size_t>(available));
  KESTREL_TRY_ASSIGN(count, source.read_at(offset, present));
  return std::unexpected(RecoveryError(SourceError::short_read(sector_size, *count)));
}

}  // namespace kestrel
