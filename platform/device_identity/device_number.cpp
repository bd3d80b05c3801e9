#include "platform/device_identity/device_number.hpp"

#include "platform/device_identity/drive_letter.hpp"
#include "platform/device_identity/owned_device_handle.hpp"

namespace kestrel {

std::expected<std::uint32_t, SourceError> volume_device_number(DevicePlatform& platform,
                                                               char32_t letter) {
  auto normalised = normalise_drive_letter(letter);
  if (!normalised) return std::unexpected(normalised.error());
  auto volume = open_device(platform, DevicePath::volume(*normalised), DeviceAccess::Query);
  if (!volume) return std::unexpected(volume.error());
  return platform.device_number(volume->get());
}

}  // namespace kestrel
