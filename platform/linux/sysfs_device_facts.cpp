#include "platform/linux/sysfs_device_facts.hpp"

#include <string>
#include <system_error>
#include <vector>

#include "platform/linux/sysfs_attribute.hpp"

namespace kestrel {

namespace {

// The bus codes the Linux backend reports, numbered like Windows' STORAGE_BUS_TYPE.
namespace linux_bus_code {
inline constexpr std::uint32_t kScsi = 1;
inline constexpr std::uint32_t kIeee1394 = 4;
inline constexpr std::uint32_t kUsb = 7;
inline constexpr std::uint32_t kRaid = 8;   // md arrays
inline constexpr std::uint32_t kSata = 11;  // every libata device
inline constexpr std::uint32_t kSd = 12;
inline constexpr std::uint32_t kMmc = 13;
inline constexpr std::uint32_t kVirtual = 14;  // virtio, zram, RAM disks, other virtual disks
inline constexpr std::uint32_t kFileBackedVirtual = 15;  // loop devices
inline constexpr std::uint32_t kSpaces = 16;             // device-mapper
inline constexpr std::uint32_t kNvme = 17;
inline constexpr std::uint32_t kUnrecognised = 0x7F;  // BusTypeMaxReserved: any other transport
}  // namespace linux_bus_code

std::vector<std::string_view> path_segments(std::string_view path) {
  std::vector<std::string_view> segments;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = path.find('/', start);
    const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
    if (end > start) segments.push_back(path.substr(start, end - start));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return segments;
}

bool all_digits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// A segment made of the prefix and a number, like usb2 or ata1.
bool numbered(std::string_view segment, std::string_view prefix) {
  return segment.starts_with(prefix) && all_digits(segment.substr(prefix.size()));
}

bool any_segment(const std::vector<std::string_view>& segments, auto predicate) {
  for (auto segment : segments) {
    if (predicate(segment)) return true;
  }
  return false;
}

std::optional<std::string> non_empty(std::optional<std::string> text) {
  if (!text || text->find_first_not_of(" \t") == std::string::npos) return std::nullopt;
  return text;
}

// The unit serial number of a SCSI device's VPD page 0x80.
std::optional<std::string> vpd_serial(const std::filesystem::path& page) {
  auto bytes = read_sysfs_bytes(page);
  if (!bytes || bytes->size() < 4 || static_cast<unsigned char>((*bytes)[1]) != 0x80) {
    return std::nullopt;
  }
  const std::size_t length = static_cast<unsigned char>((*bytes)[3]);
  if (bytes->size() < 4 + length) return std::nullopt;
  return non_empty(bytes->substr(4, length));
}

// The serial number of the USB device a disk hangs on: the nearest ancestor
// that is a USB device (it has idVendor).
std::optional<std::string> usb_serial(std::filesystem::path device) {
  for (int depth = 0; depth < 16 && device.has_relative_path(); ++depth) {
    std::error_code error;
    if (std::filesystem::exists(device / "idVendor", error)) {
      return non_empty(read_sysfs_text(device / "serial"));
    }
    device = device.parent_path();
  }
  return std::nullopt;
}

// The first serial number sysfs publishes for the disk: a USB device's own,
// then the disk's, the device's, and its SCSI unit serial number.
std::optional<std::string> serial_number(const std::filesystem::path& disk_sysfs,
                                         const std::filesystem::path& device,
                                         std::uint32_t bus_type_code) {
  std::optional<std::string> serial;
  if (bus_type_code == linux_bus_code::kUsb) serial = usb_serial(device);
  if (!serial) serial = non_empty(read_sysfs_text(disk_sysfs / "serial"));
  if (!serial) serial = non_empty(read_sysfs_text(device / "serial"));
  if (!serial) serial = vpd_serial(device / "vpd_pg80");
  return serial;
}

}  // namespace

std::uint32_t bus_type_code_from_sysfs(std::string_view disk_name,
                                       std::string_view resolved_disk_path,
                                       std::optional<std::string_view> mmc_card_type) {
  using namespace linux_bus_code;
  const auto segments = path_segments(resolved_disk_path);
  if (disk_name.starts_with("mmcblk") ||
      any_segment(segments, [](auto s) { return s == "mmc_host"; })) {
    if (mmc_card_type == "SD") return kSd;
    if (mmc_card_type == "MMC") return kMmc;
    return kUnrecognised;
  }
  if (any_segment(segments, [](auto s) { return numbered(s, "usb"); })) return kUsb;
  if (any_segment(segments, [](auto s) { return numbered(s, "fw"); })) return kIeee1394;
  if (any_segment(segments, [](auto s) { return numbered(s, "ata"); })) return kSata;
  if (disk_name.starts_with("nvme") ||
      any_segment(segments, [](auto s) { return s == "nvme" || s == "nvme-subsystem"; })) {
    return kNvme;
  }
  if (any_segment(segments, [](auto s) { return numbered(s, "virtio"); })) return kVirtual;
  if (disk_name.starts_with("loop")) return kFileBackedVirtual;
  if (disk_name.starts_with("dm-")) return kSpaces;
  if (disk_name.starts_with("md")) return kRaid;
  if (disk_name.starts_with("zram") || disk_name.starts_with("ram")) return kVirtual;
  if (any_segment(segments, [](auto s) { return numbered(s, "host"); }) &&
      any_segment(segments, [](auto s) { return s.starts_with("target"); })) {
    return kScsi;
  }
  return kUnrecognised;
}

StorageDescriptor read_sysfs_device_facts(const std::filesystem::path& disk_sysfs) {
  StorageDescriptor facts;
  std::error_code error;
  const auto resolved = std::filesystem::canonical(disk_sysfs, error);
  const std::filesystem::path device =
      error ? disk_sysfs / "device" : std::filesystem::canonical(disk_sysfs / "device", error);
  const bool has_device = !error;
  const std::string name = disk_sysfs.filename().string();

  std::optional<std::string> card_type;
  if (has_device) card_type = read_sysfs_text(device / "type");
  facts.bus_type_code = bus_type_code_from_sysfs(
      name, resolved.empty() ? disk_sysfs.string() : resolved.string(),
      card_type ? std::optional<std::string_view>(*card_type) : std::nullopt);
  if (!has_device) return facts;

  const bool memory_card =
      facts.bus_type_code == linux_bus_code::kSd || facts.bus_type_code == linux_bus_code::kMmc;
  facts.vendor = non_empty(read_sysfs_text(device / (memory_card ? "manfid" : "vendor")));
  facts.product = non_empty(read_sysfs_text(device / "model"));
  if (!facts.product) facts.product = non_empty(read_sysfs_text(device / "name"));
  facts.serial = serial_number(disk_sysfs, device, facts.bus_type_code);
  return facts;
}

}  // namespace kestrel
