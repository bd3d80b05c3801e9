#include "recovery-core/source/device_info.hpp"

#include <array>

#include "recovery-core/text/unicode.hpp"

namespace kestrel {

std::string_view bus_type_name(BusType bus) {
  static constexpr std::array<std::string_view, 9> names = {
      "unknown", "usb", "sd", "mmc", "ieee1394", "sata", "nvme", "file-backed", "other"};
  return names.at(static_cast<std::size_t>(bus));
}

std::string_view identity_stability_name(IdentityStability stability) {
  return stability == IdentityStability::DeviceSerial ? "device-serial" : "session-only";
}

std::string_view system_disk_status_name(SystemDiskStatus status) {
  switch (status) {
    case SystemDiskStatus::ConfirmedSystem:
      return "confirmed-system";
    case SystemDiskStatus::ConfirmedNonSystem:
      return "confirmed-non-system";
    case SystemDiskStatus::Unknown:
      return "unknown";
  }
  return "unknown";
}

BusType bus_type_from_code(std::uint32_t code) {
  switch (code) {
    case 0:
      return BusType::Unknown;
    case 4:
      return BusType::Ieee1394;
    case 7:
      return BusType::Usb;
    case 11:
      return BusType::Sata;
    case 12:
      return BusType::Sd;
    case 13:
      return BusType::Mmc;
    case 17:
      return BusType::Nvme;
    default:
      return BusType::Other;
  }
}

std::string identity_slug(std::string_view text) {
  const std::string_view trimmed = trim_unicode_white_space(text);
  std::string slug;
  bool pending_dash = false;
  for (std::size_t i = 0; i < trimmed.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(trimmed[i]);
    const bool digit = c >= '0' && c <= '9';
    const bool upper = c >= 'A' && c <= 'Z';
    const bool lower = c >= 'a' && c <= 'z';
    if (digit || upper || lower) {
      if (pending_dash) slug.push_back('-');
      pending_dash = false;
      slug.push_back(upper ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c));
    } else if ((c & 0xC0) != 0x80) {
      // Any other character (continuation bytes belong to the character that
      // started the sequence): one "-" per run, none at the start.
      pending_dash = !slug.empty();
    }
  }
  return slug;
}

std::pair<std::string, IdentityStability> stable_identity(BusType bus,
                                                          const std::optional<std::string>& vendor,
                                                          const std::optional<std::string>& product,
                                                          const std::optional<std::string>& serial,
                                                          std::uint32_t physical_drive_number) {
  const std::string v = identity_slug(vendor.value_or("unknown"));
  const std::string p = identity_slug(product.value_or("unknown"));
  const std::string b(bus_type_name(bus));
  if (serial) {
    const std::string s = identity_slug(*serial);
    if (!s.empty()) {
      return {b + ":" + v + ":" + p + ":" + s, IdentityStability::DeviceSerial};
    }
  }
  return {"session:" + b + ":" + v + ":" + p + ":physical-drive-" +
              std::to_string(physical_drive_number),
          IdentityStability::SessionOnly};
}

std::expected<void, SourceError> check_identity_guards(const DeviceInfo& info) {
  if (info.system_disk_status == SystemDiskStatus::ConfirmedSystem) {
    return std::unexpected(SourceError::system_disk_blocked());
  }
  if (info.system_disk_status == SystemDiskStatus::Unknown) {
    return std::unexpected(SourceError::system_disk_unknown());
  }
  if (info.capacity_bytes == 0) return std::unexpected(SourceError::zero_capacity());
  if (info.logical_sector_size == 0) {
    return std::unexpected(SourceError::zero_logical_sector_size());
  }
  return {};
}

namespace {

// Trimmed, ASCII-lower-cased text; empty text counts as absent.
std::optional<std::string> normalise_identity_text(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  std::string out(trim_unicode_white_space(*text));
  if (out.empty()) return std::nullopt;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool same_identity_text(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  return normalise_identity_text(a) == normalise_identity_text(b);
}

}  // namespace

std::expected<void, SourceError> check_readable(const DeviceInfo& info) {
  if (auto guards = check_identity_guards(info); !guards) return guards;
  switch (info.bus_type) {
    case BusType::Usb:
    case BusType::Sd:
    case BusType::Mmc:
    case BusType::Ieee1394:
      return {};
    default:
      return std::unexpected(
          SourceError::bus_type_not_allowed(std::string(bus_type_name(info.bus_type))));
  }
}

std::expected<void, SourceError> compare_identity(const DeviceInfo& expected,
                                                  const DeviceInfo& observed) {
  if (auto guards = check_identity_guards(expected); !guards) return guards;
  if (auto guards = check_identity_guards(observed); !guards) return guards;
  const auto mismatch = [](const char* key) {
    return std::unexpected(SourceError::identity_mismatch(key));
  };
  if (expected.bus_type != observed.bus_type ||
      (expected.bus_type == BusType::Other && expected.bus_type_code != observed.bus_type_code)) {
    return mismatch("bus_type");
  }
  if (expected.capacity_bytes != observed.capacity_bytes) return mismatch("capacity_bytes");
  if (expected.logical_sector_size != observed.logical_sector_size) {
    return mismatch("logical_sector_size");
  }
  if (expected.physical_sector_size != observed.physical_sector_size) {
    return mismatch("physical_sector_size");
  }
  if (!same_identity_text(expected.vendor_id, observed.vendor_id)) return mismatch("vendor_id");
  if (!same_identity_text(expected.product_id, observed.product_id)) return mismatch("product_id");
  if (expected.identity_stability != observed.identity_stability) {
    return mismatch("identity_stability");
  }
  if (expected.identity_stability == IdentityStability::SessionOnly) {
    if (expected.physical_drive_number != observed.physical_drive_number) {
      return mismatch("physical_drive_number");
    }
  } else if (!same_identity_text(expected.serial_number, observed.serial_number)) {
    return mismatch("serial_number");
  }
  if (expected.stable_id != observed.stable_id) return mismatch("stable_id");
  return {};
}

}  // namespace kestrel
