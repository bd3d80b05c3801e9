#include "platform/device_identity/device_listing.hpp"

#include <algorithm>

#include "platform/device_identity/describe_device.hpp"
#include "platform/device_identity/reported_text.hpp"
#include "platform/device_messages.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/json/json_layout.hpp"

namespace kestrel {

namespace {

constexpr unsigned kLetterCount = 26;

// The entry of a volume that passed the guards; its label and file system stay
// unknown when they cannot be read, which is no reason for a warning.
DeviceListEntry listed(DevicePlatform& platform, DeviceInfo device, char letter) {
  DeviceListEntry entry{std::move(device), letter, std::nullopt, std::nullopt};
  if (const auto information = platform.volume_information(letter)) {
    entry.volume_label = reported_text(information->label);
    entry.file_system = reported_text(information->file_system);
  }
  return entry;
}

}  // namespace

std::expected<DeviceListing, SourceError> list_devices(DevicePlatform& platform) {
  KESTREL_TRY_ASSIGN(mask, platform.logical_drives());
  DeviceListing listing;
  for (unsigned bit = 0; bit < kLetterCount; ++bit) {
    if ((*mask & (std::uint32_t{1} << bit)) == 0) continue;
    const char letter = static_cast<char>('A' + bit);
    auto device = describe_volume(platform, static_cast<char32_t>(letter));
    if (!device) {
      listing.warnings.push_back(
          device_messages::volume_left_out(letter, device.error().message()));
      continue;
    }
    listing.devices.push_back(listed(platform, std::move(*device), letter));
  }
  std::ranges::stable_sort(listing.devices, {}, &DeviceListEntry::drive_letter);
  return listing;
}

JsonValue to_json(const DeviceListEntry& entry) {
  const DeviceInfo& d = entry.device;
  JsonValue object = JsonValue::object();
  object["drive_letter"] = std::string(1, entry.drive_letter);
  object["volume_label"] = json_or_null(entry.volume_label);
  object["file_system"] = json_or_null(entry.file_system);
  object["physical_drive_number"] = d.physical_drive_number;
  object["bus_type"] = std::string(bus_type_name(d.bus_type));
  object["vendor_id"] = json_or_null(d.vendor_id);
  object["product_id"] = json_or_null(d.product_id);
  object["serial_number"] = json_or_null(d.serial_number);
  object["capacity_bytes"] = d.capacity_bytes;
  object["logical_sector_size"] = d.logical_sector_size;
  object["physical_sector_size"] = json_or_null(d.physical_sector_size);
  object["stable_id"] = d.stable_id;
  object["identity_stability"] = std::string(identity_stability_name(d.identity_stability));
  object["system_disk_status"] = std::string(system_disk_status_name(d.system_disk_status));
  return object;
}

JsonValue to_json(const DeviceListing& listing) {
  JsonValue document = JsonValue::object();
  JsonValue devices = JsonValue::array();
  for (const auto& entry : listing.devices) devices.push_back(to_json(entry));
  document["devices"] = std::move(devices);
  JsonValue warnings = JsonValue::array();
  for (const auto& warning : listing.warnings) warnings.push_back(warning);
  document["warnings"] = std::move(warnings);
  return document;
}

}  // namespace kestrel
