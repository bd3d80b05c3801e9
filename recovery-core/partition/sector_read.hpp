#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// One sector at `offset`, read with a single call. If the source (`capacity`
// bytes long) ends inside the sector, only what it holds is read, so an absurd
// sector size costs no large buffer, and the call fails with a short read
// that counts the sector size against the bytes obtained. Read errors pass through.
std::expected<std::vector<std::uint8_t>, RecoveryError> read_one_sector(ByteSource& source,
                                                                        std::uint64_t capacity,
                                                                        std::uint64_t offset,
                                                                        std::uint32_t sector_size);

}  // namespace kestrel
