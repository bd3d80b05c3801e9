#include "platform/device_identity/device_number.hpp"

#include <array>

#include "platform/device_identity/drive_letter.hpp"
#include "platform/device_identity/owned_device_handle.hpp"
#include "platform/device_identity/storage_structures.hpp"
#include "recovery-core/bytes/little_endian.hpp"

namespace kestrel {

std::expected<std::uint32_t, SourceError> query_device_number(DevicePlatform& platform,
                                                              DeviceHandle handle) {
  std::array<std::uint8_t, storage_layout::kDeviceNumberSize> output{};
  auto returned = platform.control(handle, DeviceControl::GetDeviceNumber, {}, output);
  if (!returned) return std::unexpected(platform.source_error(returned.error()));
  if (*returned < output.size()) {
    return std::unexpected(SourceError::io("short IOCTL output: STORAGE_DEVICE_NUMBER",
                                           IoErrorKind::UnexpectedEof));
  }
  const std::uint32_t number =
      read_u32_le(output, storage_layout::kDeviceNumberField).value_or(0);
  if (number == storage_layout::kDeviceNumberUnavailable) {
    return std::unexpected(SourceError::io(
        "storage device number is unavailable for this device path", IoErrorKind::InvalidData));
  }
  return number;
}

std::expected<std::uint32_t, SourceError> volume_device_number(DevicePlatform& platform,
                                                               char32_t letter) {
  auto normalised = normalise_drive_letter(letter);
  if (!normalised) return std::unexpected(normalised.error());
  auto volume = open_device(platform, DevicePath::volume(*normalised), DeviceAccess::Query);
  if (!volume) return std::unexpected(volume.error());
  return query_device_number(platform, volume->get());
}

}  // namespace kestrel
