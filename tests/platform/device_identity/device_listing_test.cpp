// The device listing against recorded machines: one entry or one warning per
// lettered volume, the warning texts, labels and file systems, the document.
#include "platform/device_identity/device_listing.hpp"

#include <gtest/gtest.h>

#include "recovery-core/json/json_layout.hpp"
#include "tests/support/simulated-platform/simulated_platform.hpp"

namespace kestrel::testing {
namespace {

// C: system (SATA drive 0), D: second SATA disk, E: and F: two volumes of
// one USB stick (drive 3), G: a reader without a card, H: a USB card whose
// label and file system cannot be read.
SimulatedPlatform office_machine() {
  SimulatedPlatform platform;
  platform.disks.push_back(internal_disk(0, 11));
  platform.disks.push_back(internal_disk(1, 11));
  platform.disks.push_back(usb_card(3, 16'000'000'000, "STICK1"));
  platform.disks.push_back(usb_card(4, 2'000'000'000, std::nullopt));
  platform.disk(4)->facts.bus_type_code = 12;  // SD
  // Listed out of letter order: the listing goes by letter.
  platform.volumes.push_back(volume_on('H', 4));
  platform.volume('H')->information_fails = true;
  platform.volumes.push_back(volume_on('C', 0, "System", "NTFS"));
  platform.volumes.push_back(volume_on('D', 1, "Data", "NTFS"));
  platform.volumes.push_back(volume_on('E', 3, " PHOTOS ", "FAT32"));
  platform.volume('E')->length = 8'000'000'000;
  platform.volumes.push_back(volume_on('F', 3, "   ", "exFAT"));
  platform.volume('F')->length = 7'000'000'000;
  platform.volumes.push_back(volume_on('G', 4));
  platform.volume('G')->open_error = win32::kNotReady;
  return platform;
}

TEST(DeviceListing, ListsReadableVolumesAndWarnsForTheRest) {
  auto platform = office_machine();
  auto listing = list_devices(platform);
  ASSERT_TRUE(listing) << listing.error().message();

  ASSERT_EQ(listing->devices.size(), 3u);
  EXPECT_EQ(listing->devices[0].drive_letter, 'E');
  EXPECT_EQ(listing->devices[0].volume_label, "PHOTOS");
  EXPECT_EQ(listing->devices[0].file_system, "FAT32");
  EXPECT_EQ(listing->devices[0].device.capacity_bytes, 8'000'000'000u);
  EXPECT_EQ(listing->devices[1].drive_letter, 'F');
  EXPECT_EQ(listing->devices[1].volume_label, std::nullopt);  // only spaces
  EXPECT_EQ(listing->devices[1].device.capacity_bytes, 7'000'000'000u);
  EXPECT_EQ(listing->devices[1].device.physical_drive_number, 3u);
  EXPECT_EQ(listing->devices[2].drive_letter, 'H');
  EXPECT_EQ(listing->devices[2].volume_label, std::nullopt);
  EXPECT_EQ(listing->devices[2].file_system, std::nullopt);
  EXPECT_EQ(listing->devices[2].device.bus_type, BusType::Sd);

  const std::vector<std::string> warnings = {
      "C: 검사 제외 · system disk is blocked",
      "D: 검사 제외 · physical raw reading is not allowed for bus type: sata",
      "G: 검사 제외 · device disconnected during read"};
  EXPECT_EQ(listing->warnings, warnings);
  EXPECT_EQ(platform.opens(), platform.closes());
  EXPECT_EQ(platform.open_handles(), 0u);
}

TEST(DeviceListing, DocumentLayout) {
  SimulatedPlatform platform;
  platform.disks.push_back(internal_disk(0, 11));
  platform.disks.push_back(usb_card(4, 2'000'000'000, std::nullopt));
  platform.disk(4)->physical_sector_size = 0;  // alignment without a physical size
  platform.volumes.push_back(volume_on('C', 0));
  platform.volumes.push_back(volume_on('E', 4, "CARD\t\"1\"", "FAT32"));
  auto listing = list_devices(platform);
  ASSERT_TRUE(listing);
  auto text = render_json(to_json(*listing));
  ASSERT_TRUE(text);
  EXPECT_EQ(*text,
            "{\n"
            "  \"devices\": [\n"
            "    {\n"
            "      \"drive_letter\": \"E\",\n"
            "      \"volume_label\": \"CARD\\t\\\"1\\\"\",\n"
            "      \"file_system\": \"FAT32\",\n"
            "      \"physical_drive_number\": 4,\n"
            "      \"bus_type\": \"usb\",\n"
            "      \"vendor_id\": \"Example\",\n"
            "      \"product_id\": \"Card Reader\",\n"
            "      \"serial_number\": null,\n"
            "      \"capacity_bytes\": 2000000000,\n"
            "      \"logical_sector_size\": 512,\n"
            "      \"physical_sector_size\": null,\n"
            "      \"stable_id\": \"session:usb:example:card-reader:physical-drive-4\",\n"
            "      \"identity_stability\": \"session-only\",\n"
            "      \"system_disk_status\": \"confirmed-non-system\"\n"
            "    }\n"
            "  ],\n"
            "  \"warnings\": [\n"
            "    \"C: 검사 제외 · system disk is blocked\"\n"
            "  ]\n"
            "}");
}

TEST(DeviceListing, EveryVolumeFailing) {
  auto platform = office_machine();
  platform.system_directory_text = "\\\\server\\Windows";
  auto listing = list_devices(platform);
  ASSERT_TRUE(listing);
  EXPECT_TRUE(listing->devices.empty());
  ASSERT_EQ(listing->warnings.size(), 6u);
  EXPECT_EQ(listing->warnings[0], "C: 검사 제외 · system disk state is unknown; fail-closed");
  EXPECT_EQ(listing->warnings[4], "G: 검사 제외 · device disconnected during read");
  EXPECT_EQ(listing->warnings[5], "H: 검사 제외 · system disk state is unknown; fail-closed");
}

TEST(DeviceListing, DriveLettersUnreadable) {
  auto platform = office_machine();
  platform.logical_drives_error = win32::kAccessDenied;
  auto listing = list_devices(platform);
  ASSERT_FALSE(listing);
  // The devices command adds its own words around the system's text.
  EXPECT_TRUE(listing.error().is_generic_io());
  EXPECT_EQ(system_text(listing.error()), "Access is denied. (os error 5)");
}

}  // namespace
}  // namespace kestrel::testing
