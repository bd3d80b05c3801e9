#include "recovery-core/source/image_file_source.hpp"

#include "os/file_system.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

std::expected<std::size_t, SourceError> ImageFileSource::read_at(std::uint64_t offset,
                                                                 std::span<std::uint8_t> buffer) {
  auto count = file_.read_at(offset, buffer);
  if (!count) return std::unexpected(source_error_from_image_io(count.error()));
  return *count;
}

DeviceInfo image_file_identity(const std::string& path_text, std::uint64_t length,
                               std::uint32_t sector_size) {
  DeviceInfo info;
  info.stable_id = "file:" + path_text + ":" + std::to_string(length);
  info.vendor_id = "KESTREL";
  info.product_id = "RecoveryImage";
  info.serial_number = path_text;
  info.physical_drive_number = 0;
  info.bus_type = BusType::FileBacked;
  info.capacity_bytes = length;
  info.logical_sector_size = sector_size;
  info.physical_sector_size = std::nullopt;
  info.identity_stability = IdentityStability::DeviceSerial;
  info.system_disk_status = SystemDiskStatus::ConfirmedNonSystem;
  return info;
}

std::expected<ImageFileSource, RecoveryError> open_image_source(const std::filesystem::path& path,
                                                                std::uint32_t sector_size) {
  auto metadata = read_metadata(path);
  if (!metadata) return std::unexpected(RecoveryError::io(metadata.error()));
  const std::uint64_t length = metadata->length;
  DeviceInfo identity = image_file_identity(path_display(path), length, sector_size);

  // The same guards as every source; for an image file only the capacity and
  // the sector size can fail them.
  KESTREL_TRY(check_identity_guards(identity));

  auto file = FileHandle::open_for_reading(path);
  if (!file) return std::unexpected(RecoveryError(source_error_from_image_io(file.error())));
  auto opened_length = file->length();
  if (!opened_length) {
    return std::unexpected(RecoveryError(source_error_from_image_io(opened_length.error())));
  }
  if (*opened_length != length) {
    return std::unexpected(RecoveryError(SourceError::identity_mismatch("capacity_bytes")));
  }
  return ImageFileSource(std::move(identity), std::move(*file));
}

}  // namespace kestrel
