#include "recovery-core/scan/file_system_registry.hpp"

#include <array>

#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/exfat/exfat_volume.hpp"
#include "recovery-core/fat/fat_volume.hpp"
#include "recovery-core/ntfs/ntfs_volume.hpp"
#include "recovery-core/raw/raw_area.hpp"

namespace kestrel {

namespace {

// exFAT and NTFS first: their boot sectors name them. FAT12/16 before FAT32:
// only it has a root directory region, and FAT32 is known by its type name.
constexpr std::array kRooms = {
    FileSystemRoom{recognises_exfat, open_exfat},
    FileSystemRoom{recognises_ntfs, open_ntfs, open_ntfs_from_backup},
    FileSystemRoom{recognises_fat12_16, open_fat12_16},
    FileSystemRoom{recognises_fat32, open_fat32},
};

}  // namespace

std::span<const FileSystemRoom> file_system_rooms() { return kRooms; }

std::expected<std::unique_ptr<Volume>, RecoveryError> open_volume(
    ByteSource& source, std::span<const std::uint8_t> boot_sector, const VolumePlace& place) {
  for (const FileSystemRoom& room : kRooms) {
    if (room.recognises(boot_sector)) return room.open(source, boot_sector, place);
  }
  for (const FileSystemRoom& room : kRooms) {
    if (room.open_from_backup == nullptr) continue;
    KESTREL_TRY_ASSIGN(volume, room.open_from_backup(source, place));
    if (*volume) return volume;
  }
  return open_raw_area(source, place);
}

bool starts_readable_volume(ByteSource& source, std::span<const std::uint8_t> boot_sector,
                            std::uint64_t capacity, std::uint32_t sector_size) {
  const PartitionEntry whole{1, 0, capacity / sector_size, {}, {}, {}};
  const VolumePlace place{whole, 0, capacity, sector_size};
  for (const FileSystemRoom& room : kRooms) {
    if (room.recognises(boot_sector)) return room.open(source, boot_sector, place).has_value();
  }
  return false;
}

}  // namespace kestrel
