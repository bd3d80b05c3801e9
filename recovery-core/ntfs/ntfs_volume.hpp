#pragma once

#include <expected>
#include <memory>
#include <span>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/volume/volume.hpp"

namespace kestrel {

// NTFS in the registry: recognised by the "NTFS    " name of its boot sector.
// Opening checks the boot sector (or, when it is damaged, the backup in the
// volume's last sector) and reads $MFT's first record.
bool recognises_ntfs(std::span<const std::uint8_t> boot_sector);
std::expected<std::unique_ptr<Volume>, RecoveryError> open_ntfs(
    ByteSource& source, std::span<const std::uint8_t> boot_sector, const VolumePlace& place);

// A partition whose first sector names no file system may still be NTFS with
// that sector destroyed: the backup boot sector at the partition's end opens
// it. Nothing when there is no such backup.
std::expected<std::unique_ptr<Volume>, RecoveryError> open_ntfs_from_backup(
    ByteSource& source, const VolumePlace& place);

}  // namespace kestrel
