#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// Reads the `sector_size` bytes at `offset` in one read. When the source of
// `capacity` bytes cannot hold the whole sector, only the bytes it has are
// asked for (a sector size chosen far beyond the image never allocates the
// full sector) and the result is the short read: expected = the sector size,
// actual = the bytes returned. A read error is passed on unchanged.
std::expected<std::vector<std::uint8_t>, RecoveryError> read_one_sector(ByteSource& source,
                                                                        std::uint64_t capacity,
                                                                        std::uint64_t offset,
                                                                        std::uint32_t sector_size);

}  // namespace kestrel
