#include "platform/device_identity/device_number.hpp"

#include "platform/device_identity/drive_letter.hpp"
#include "platform/device_identity/owned_device_handle.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

std::expected<std::uint32_t, SourceError> volume_device_number(DevicePlatform& platform,
                                                               char32_t letter) {
  KESTREL_TRY_ASSIGN(normalised, normalise_drive_letter(letter));
  KESTREL_TRY_ASSIGN(volume,
                     open_device(platform, DevicePath::volume(*normalised), DeviceAccess::Query));
  return platform.device_number(volume->get());
}

}  // namespace kestrel
