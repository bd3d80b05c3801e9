#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// Bus category of a source. Declared in the order of their names.
enum class BusType { Unknown, Usb, Sd, Mmc, Ieee1394, Sata, Nvme, FileBacked, Other };

// How long a stable_id stays valid.
enum class IdentityStability { DeviceSerial, SessionOnly };

// Relation of a source to the disk that holds the operating system.
enum class SystemDiskStatus { ConfirmedSystem, ConfirmedNonSystem, Unknown };

std::string_view bus_type_name(BusType bus);
std::string_view identity_stability_name(IdentityStability stability);
std::string_view system_disk_status_name(SystemDiskStatus status);

// The BusType of a raw STORAGE_BUS_TYPE number.
BusType bus_type_from_code(std::uint32_t code);

// The identity of any source: a raw device or an image file.
struct DeviceInfo {
  std::uint32_t physical_drive_number = 0;
  BusType bus_type = BusType::Unknown;
  std::uint32_t bus_type_code = 0;  // compared only when bus_type is Other; never printed
  std::optional<std::string> vendor_id;
  std::optional<std::string> product_id;
  std::optional<std::string> serial_number;
  std::uint64_t capacity_bytes = 0;
  std::uint32_t logical_sector_size = 0;
  std::optional<std::uint32_t> physical_sector_size;
  std::string stable_id;
  IdentityStability identity_stability = IdentityStability::SessionOnly;
  SystemDiskStatus system_disk_status = SystemDiskStatus::Unknown;

  friend bool operator==(const DeviceInfo&, const DeviceInfo&) = default;
};

// Lower-case ASCII letters and digits; every other run of characters becomes
// one "-"; white space and "-" trimmed from both ends. May be empty.
std::string identity_slug(std::string_view text);

// The stable_id and its stability: "{bus}:{vendor}:{product}:{serial}" when the
// serial number's slug is not empty, else the session form naming the drive number.
std::pair<std::string, IdentityStability> stable_identity(
    BusType bus, const std::optional<std::string>& vendor, const std::optional<std::string>& product,
    const std::optional<std::string>& serial, std::uint32_t physical_drive_number);

// The guards every description must pass before it is compared or read,
// first failure wins: system disk (confirmed or unknown), capacity, sector size.
std::expected<void, SourceError> check_identity_guards(const DeviceInfo& info);

// The readability guards, first failure wins: the identity guards, then the
// bus (only usb, sd, mmc and ieee1394 may be read raw).
std::expected<void, SourceError> check_readable(const DeviceInfo& info);

// Field-by-field comparison of an expected and an observed description, guards first.
std::expected<void, SourceError> compare_identity(const DeviceInfo& expected,
                                                  const DeviceInfo& observed);

}  // namespace kestrel
