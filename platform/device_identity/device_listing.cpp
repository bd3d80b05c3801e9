#include "platform/device_identity/device_listing.hpp"

#include <algorithm>
#include <array>
#include <span>

#include "platform/device_identity/describe_device.hpp"
#include "recovery-core/text/unicode.hpp"
#include "recovery-core/text/utf16.hpp"

namespace kestrel {

namespace {

constexpr std::size_t kLabelUnits = 261;
constexpr std::size_t kFileSystemUnits = 64;
constexpr unsigned kLetterCount = 26;

// The text of a NUL-terminated UTF-16 buffer (the whole buffer when no NUL),
// trimmed; absent when empty.
std::optional<std::string> volume_text(std::span<const char16_t> units) {
  const auto end = std::ranges::find(units, u'\0');
  const std::string decoded =
      decode_utf16_lossy(units.first(static_cast<std::size_t>(end - units.begin())));
  std::string trimmed(trim_unicode_white_space(decoded));
  if (trimmed.empty()) return std::nullopt;
  return trimmed;
}

}  // namespace

std::expected<DeviceListing, std::string> list_devices(DevicePlatform& platform) {
  auto mask = platform.logical_drives();
  if (!mask) {
    return std::unexpected("Windows 드라이브 목록을 읽지 못했습니다: " +
                           platform.error_text(mask.error()));
  }
  DeviceListing listing;
  for (unsigned bit = 0; bit < kLetterCount; ++bit) {
    if ((*mask & (std::uint32_t{1} << bit)) == 0) continue;
    const char letter = static_cast<char>('A' + bit);
    auto device = describe_volume(platform, static_cast<char32_t>(letter));
    if (!device) {
      listing.warnings.push_back(std::string(1, letter) + ": 검사 제외 · " +
                                 device.error().message());
      continue;
    }
    DeviceListEntry entry{std::move(*device), letter, std::nullopt, std::nullopt};
    std::array<char16_t, kLabelUnits> label{};
    std::array<char16_t, kFileSystemUnits> file_system{};
    if (platform.volume_information(letter, label, file_system)) {
      entry.volume_label = volume_text(label);
      entry.file_system = volume_text(file_system);
    }
    listing.devices.push_back(std::move(entry));
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
