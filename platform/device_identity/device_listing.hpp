#pragma once

#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "platform/device_platform.hpp"
#include "recovery-core/json/json_value.hpp"
#include "recovery-core/source/device_info.hpp"

namespace kestrel {

// A volume that may be imaged: its device as described, and what only the
// volume has (letter, label, file system).
struct DeviceListEntry {
  DeviceInfo device;
  char drive_letter = 'A';
  std::optional<std::string> volume_label;
  std::optional<std::string> file_system;
};

// The volumes that passed the guards, by letter, and one warning for every
// other volume, in the order they were met.
struct DeviceListing {
  std::vector<DeviceListEntry> devices;
  std::vector<std::string> warnings;
};

// Every lettered volume, A to Z: listed when it can be described and passes
// the guards, otherwise named in a warning with the reason
// (device_messages::volume_left_out). Fails only when the drive letters
// themselves cannot be read, with the platform's failure as it came.
std::expected<DeviceListing, SourceError> list_devices(DevicePlatform& platform);

// The devices document: "devices" (each entry's letter, label, file system,
// then its description without the bus code) and "warnings".
JsonValue to_json(const DeviceListEntry& entry);
JsonValue to_json(const DeviceListing& listing);

}  // namespace kestrel
