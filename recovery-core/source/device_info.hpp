#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// The bus a source hangs on. The order of the enumerators is that of the names
// the protocol prints.
enum class BusType { Unknown, Usb, Sd, Mmc, Ieee1394, Sata, Nvme, FileBacked, Other };

// How long a stable_id stays valid.
enum class IdentityStability { DeviceSerial, SessionOnly };

// Relation of a source to the disk that holds the operating system.
enum class SystemDiskStatus { ConfirmedSystem, ConfirmedNonSystem, Unknown };

std::string_view bus_type_name(BusType bus);
std::string_view identity_stability_name(IdentityStability stability);
std::string_view system_disk_status_name(SystemDiskStatus status);

// The BusType of a bus code (numbered like Windows' STORAGE_BUS_TYPE).
BusType bus_type_from_code(std::uint32_t code);

// Who a source is, device or image file alike: what it reports about itself,
// its geometry, whether it holds the running system, and the stable_id by
// which it is recognised again.
struct DeviceInfo {
  std::uint32_t physical_drive_number = 0;
  BusType bus_type = BusType::Unknown;
  std::uint32_t bus_type_code = 0;  // tells "other" buses apart; not part of any document
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

// The text reduced to lower-case ASCII letters, digits and single hyphens (one
// for each run of anything else), without hyphens or white space at either
// end. May come out empty.
std::string identity_slug(std::string_view text);

// The stable_id and how long it holds: built on the serial number when its
// slug has any text, else on the physical drive number for this session only.
// docs/devices.md shows both forms.
std::pair<std::string, IdentityStability> stable_identity(BusType bus,
                                                          const std::optional<std::string>& vendor,
                                                          const std::optional<std::string>& product,
                                                          const std::optional<std::string>& serial,
                                                          std::uint32_t physical_drive_number);

// What no description may be, whatever it is used for: the system disk or a
// disk whose status is unknown, empty, or without a sector size.
std::expected<void, SourceError> check_identity_guards(const DeviceInfo& info);

// The identity guards, and a removable bus: only usb, sd, mmc and ieee1394
// devices are read raw.
std::expected<void, SourceError> check_readable(const DeviceInfo& info);

// Whether an observed description is still the expected device. Both must
// pass the identity guards; the first field that differs is named in the
// IdentityMismatch (the order is in docs/devices.md).
std::expected<void, SourceError> compare_identity(const DeviceInfo& expected,
                                                  const DeviceInfo& observed);

}  // namespace kestrel
