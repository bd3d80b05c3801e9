#include "recovery-core/source/device_info.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace kestrel::testing {
namespace {

TEST(IdentitySlug, Examples) {
  EXPECT_EQ(identity_slug(" Example Corp. "), "example-corp");
  EXPECT_EQ(identity_slug("USB  SD_Reader"), "usb-sd-reader");
  EXPECT_EQ(identity_slug("--"), "");
  EXPECT_EQ(identity_slug("\u3000Ü-ber\u00A0Stick 2.0\u2003"), "ber-stick-2-0");
  EXPECT_EQ(identity_slug("한국 Card"), "card");
  EXPECT_EQ(identity_slug(""), "");
}

TEST(StableIdentity, SerialOrSessionForm) {
  auto [id, stability] = stable_identity(BusType::Usb, "Generic", "Flash Disk", std::nullopt, 3);
  EXPECT_EQ(id, "session:usb:generic:flash-disk:physical-drive-3");
  EXPECT_EQ(stability, IdentityStability::SessionOnly);

  std::tie(id, stability) = stable_identity(BusType::Usb, "Generic", "Flash Disk", "   ", 3);
  EXPECT_EQ(id, "session:usb:generic:flash-disk:physical-drive-3");

  std::tie(id, stability) = stable_identity(BusType::Sd, "Generic", "Flash Disk", "!!!", 4);
  EXPECT_EQ(id, "session:sd:generic:flash-disk:physical-drive-4");
  EXPECT_EQ(stability, IdentityStability::SessionOnly);

  std::tie(id, stability) = stable_identity(BusType::Mmc, std::nullopt, "Card", "AB12 34", 1);
  EXPECT_EQ(id, "mmc:unknown:card:ab12-34");
  EXPECT_EQ(stability, IdentityStability::DeviceSerial);

  std::tie(id, stability) = stable_identity(BusType::Usb, "--", "", "X", 1);
  EXPECT_EQ(id, "usb:::x");
}

DeviceInfo usb_card() {
  DeviceInfo info;
  info.physical_drive_number = 2;
  info.bus_type = BusType::Usb;
  info.bus_type_code = 7;
  info.vendor_id = "Example";
  info.product_id = "Card Reader";
  info.serial_number = "SN123";
  info.capacity_bytes = 31914983424ull;
  info.logical_sector_size = 512;
  info.stable_id = "usb:example:card-reader:sn123";
  info.identity_stability = IdentityStability::DeviceSerial;
  info.system_disk_status = SystemDiskStatus::ConfirmedNonSystem;
  return info;
}

struct ReadableCase {
  const char* name;
  std::function<void(DeviceInfo&)> change;
  std::string expected;  // empty: readable
};

TEST(CheckReadable, GuardsInOrder) {
  const ReadableCase cases[] = {
      {"usb card", [](DeviceInfo&) {}, ""},
      {"sd", [](DeviceInfo& d) { d.bus_type = BusType::Sd; }, ""},
      {"mmc", [](DeviceInfo& d) { d.bus_type = BusType::Mmc; }, ""},
      {"firewire", [](DeviceInfo& d) { d.bus_type = BusType::Ieee1394; }, ""},
      {"system disk",
       [](DeviceInfo& d) { d.system_disk_status = SystemDiskStatus::ConfirmedSystem; },
       "system disk is blocked"},
      {"unknown system disk",
       [](DeviceInfo& d) { d.system_disk_status = SystemDiskStatus::Unknown; },
       "system disk state is unknown; fail-closed"},
      {"system disk before capacity",
       [](DeviceInfo& d) {
         d.system_disk_status = SystemDiskStatus::ConfirmedSystem;
         d.capacity_bytes = 0;
       },
       "system disk is blocked"},
      {"zero capacity before sector size",
       [](DeviceInfo& d) {
         d.capacity_bytes = 0;
         d.logical_sector_size = 0;
       },
       "device capacity must be greater than zero"},
      {"zero sector size before bus",
       [](DeviceInfo& d) {
         d.logical_sector_size = 0;
         d.bus_type = BusType::Sata;
       },
       "logical sector size must be greater than zero"},
      {"sata", [](DeviceInfo& d) { d.bus_type = BusType::Sata; },
       "physical raw reading is not allowed for bus type: sata"},
      {"nvme", [](DeviceInfo& d) { d.bus_type = BusType::Nvme; },
       "physical raw reading is not allowed for bus type: nvme"},
      {"unknown bus", [](DeviceInfo& d) { d.bus_type = BusType::Unknown; },
       "physical raw reading is not allowed for bus type: unknown"},
      {"file", [](DeviceInfo& d) { d.bus_type = BusType::FileBacked; },
       "physical raw reading is not allowed for bus type: file-backed"},
      {"other", [](DeviceInfo& d) { d.bus_type = BusType::Other; },
       "physical raw reading is not allowed for bus type: other"},
  };
  for (const auto& c : cases) {
    DeviceInfo info = usb_card();
    c.change(info);
    auto result = check_readable(info);
    EXPECT_EQ(result ? std::string() : result.error().message(), c.expected) << c.name;
  }
}

struct CompareCase {
  const char* name;
  std::function<void(DeviceInfo& expected, DeviceInfo& observed)> change;
  std::string expected;  // empty: same device
};

DeviceInfo session_card() {
  DeviceInfo info = usb_card();
  info.serial_number = std::nullopt;
  info.stable_id = "session:usb:example:card-reader:physical-drive-2";
  info.identity_stability = IdentityStability::SessionOnly;
  return info;
}

TEST(CompareIdentity, FirstDifferenceWinsGuardsFirst) {
  const CompareCase cases[] = {
      {"identical", [](DeviceInfo&, DeviceInfo&) {}, ""},
      {"renumbered serial device", [](DeviceInfo&, DeviceInfo& o) { o.physical_drive_number = 7; },
       ""},
      {"vendor spacing and case",
       [](DeviceInfo& e, DeviceInfo& o) {
         e.vendor_id = " Example";
         o.vendor_id = "example";
       },
       ""},
      {"empty vendor equals absent",
       [](DeviceInfo& e, DeviceInfo& o) {
         e.vendor_id = "  ";
         o.vendor_id = std::nullopt;
       },
       ""},
      {"vendor words differ",
       [](DeviceInfo& e, DeviceInfo& o) {
         e.vendor_id = "ExampleCo";
         o.vendor_id = "Example Co";
       },
       "device identity mismatch: vendor_id"},
      {"became system disk before a field",
       [](DeviceInfo&, DeviceInfo& o) {
         o.system_disk_status = SystemDiskStatus::ConfirmedSystem;
         o.capacity_bytes = 1;
       },
       "system disk is blocked"},
      {"expected guards before observed",
       [](DeviceInfo& e, DeviceInfo& o) {
         e.logical_sector_size = 0;
         o.system_disk_status = SystemDiskStatus::Unknown;
       },
       "logical sector size must be greater than zero"},
      {"observed unknown system disk",
       [](DeviceInfo&, DeviceInfo& o) { o.system_disk_status = SystemDiskStatus::Unknown; },
       "system disk state is unknown; fail-closed"},
      {"observed empty", [](DeviceInfo&, DeviceInfo& o) { o.capacity_bytes = 0; },
       "device capacity must be greater than zero"},
      {"bus differs before capacity",
       [](DeviceInfo&, DeviceInfo& o) {
         o.bus_type = BusType::Sd;
         o.capacity_bytes = 1;
       },
       "device identity mismatch: bus_type"},
      {"bus is not guarded here",
       [](DeviceInfo& e, DeviceInfo& o) {
         e.bus_type = BusType::Sata;
         o.bus_type = BusType::Sata;
       },
       ""},
      {"other bus compares codes",
       [](DeviceInfo& e, DeviceInfo& o) {
         e.bus_type = o.bus_type = BusType::Other;
         e.bus_type_code = 1;
         o.bus_type_code = 9;
       },
       "device identity mismatch: bus_type"},
      {"usb ignores codes", [](DeviceInfo&, DeviceInfo& o) { o.bus_type_code = 99; }, ""},
      {"another card in the reader", [](DeviceInfo&, DeviceInfo& o) { o.capacity_bytes -= 512; },
       "device identity mismatch: capacity_bytes"},
      {"sector size", [](DeviceInfo&, DeviceInfo& o) { o.logical_sector_size = 4096; },
       "device identity mismatch: logical_sector_size"},
      {"physical sector appears", [](DeviceInfo&, DeviceInfo& o) { o.physical_sector_size = 4096; },
       "device identity mismatch: physical_sector_size"},
      {"physical sector same",
       [](DeviceInfo& e, DeviceInfo& o) { e.physical_sector_size = o.physical_sector_size = 4096; },
       ""},
      {"product", [](DeviceInfo&, DeviceInfo& o) { o.product_id = "Other Reader"; },
       "device identity mismatch: product_id"},
      {"serial", [](DeviceInfo&, DeviceInfo& o) { o.serial_number = "SN124"; },
       "device identity mismatch: serial_number"},
      {"serial case and spacing", [](DeviceInfo&, DeviceInfo& o) { o.serial_number = " sn123 "; },
       ""},
      {"stable id exact",
       [](DeviceInfo&, DeviceInfo& o) { o.stable_id = "USB:example:card-reader:sn123"; },
       "device identity mismatch: stable_id"},
      {"stability differs", [](DeviceInfo& e, DeviceInfo&) { e = session_card(); },
       "device identity mismatch: identity_stability"},
      {"session renumbered",
       [](DeviceInfo& e, DeviceInfo& o) {
         e = session_card();
         o = session_card();
         o.physical_drive_number = 3;
       },
       "device identity mismatch: physical_drive_number"},
      {"session same",
       [](DeviceInfo& e, DeviceInfo& o) {
         e = session_card();
         o = session_card();
       },
       ""},
      {"session stable id",
       [](DeviceInfo& e, DeviceInfo& o) {
         e = session_card();
         o = session_card();
         o.stable_id += "x";
       },
       "device identity mismatch: stable_id"},
  };
  for (const auto& c : cases) {
    DeviceInfo expected = usb_card();
    DeviceInfo observed = usb_card();
    c.change(expected, observed);
    auto result = compare_identity(expected, observed);
    EXPECT_EQ(result ? std::string() : result.error().message(), c.expected) << c.name;
  }
}

TEST(BusTypes, CodesAndNames) {
  EXPECT_EQ(bus_type_from_code(7), BusType::Usb);
  EXPECT_EQ(bus_type_from_code(12), BusType::Sd);
  EXPECT_EQ(bus_type_from_code(13), BusType::Mmc);
  EXPECT_EQ(bus_type_from_code(4), BusType::Ieee1394);
  EXPECT_EQ(bus_type_from_code(11), BusType::Sata);
  EXPECT_EQ(bus_type_from_code(17), BusType::Nvme);
  EXPECT_EQ(bus_type_from_code(0), BusType::Unknown);
  for (std::uint32_t code : {1u, 2u, 3u, 5u, 6u, 8u, 9u, 10u, 14u, 15u, 16u, 18u, 200u}) {
    EXPECT_EQ(bus_type_from_code(code), BusType::Other) << code;
  }
  EXPECT_EQ(bus_type_name(BusType::FileBacked), "file-backed");
  EXPECT_EQ(identity_stability_name(IdentityStability::SessionOnly), "session-only");
  EXPECT_EQ(system_disk_status_name(SystemDiskStatus::ConfirmedNonSystem), "confirmed-non-system");
}

}  // namespace
}  // namespace kestrel::testing
