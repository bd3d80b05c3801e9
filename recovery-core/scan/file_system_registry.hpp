#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <span>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/volume/volume.hpp"

namespace kestrel {

// The file systems the tool reads, in the order they are asked: the first
// whose `recognises` accepts a partition's boot sector opens it.
std::span<const FileSystemRoom> file_system_rooms();

// The volume of the partition whose first logical sector is `boot_sector`:
// the first room that recognises it, opened (its failure is the result), or a
// raw area when none does.
std::expected<std::unique_ptr<Volume>, RecoveryError> open_volume(
    ByteSource& source, std::span<const std::uint8_t> boot_sector, const VolumePlace& place);

// Whether `boot_sector`, the source's first sector, starts a volume some room
// recognises and opens without an error.
bool starts_readable_volume(ByteSource& source, std::span<const std::uint8_t> boot_sector,
                            std::uint64_t capacity, std::uint32_t sector_size);

}  // namespace kestrel
