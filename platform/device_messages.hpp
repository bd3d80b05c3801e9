#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The fixed texts of the device layer, in one place for translators and
// reviewers. The listing's warning is Korean, like every note meant for the
// user; the others are English like the rest of the messages.
namespace kestrel::device_messages {

// A lettered volume the listing leaves out, with the reason.
inline std::string volume_left_out(char letter, std::string_view reason) {
  return std::string(1, letter) + ": 검사 제외 · " + std::string(reason);
}

inline constexpr std::string_view kLetterNotAscii = "drive letter must be ASCII alphabetic";

// Answers of the Windows storage IOCTLs that cannot be used.
inline std::string short_ioctl_output(std::string_view structure) {
  return "short IOCTL output: " + std::string(structure);
}
inline std::string invalid_descriptor_size(std::uint32_t size) {
  return "invalid STORAGE_DEVICE_DESCRIPTOR size: " + std::to_string(size);
}
inline constexpr std::string_view kShortStorageDescriptor = "short storage descriptor";
inline constexpr std::string_view kDeviceNumberUnavailable =
    "storage device number is unavailable for this device path";

}  // namespace kestrel::device_messages
