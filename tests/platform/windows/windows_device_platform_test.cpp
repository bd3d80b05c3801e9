// The kernel32 backend against the devices Wine emulates: the answers of the
// calls themselves, and the device rules running on them. On real Windows the
// machine's own disks answer, so these expectations skip there.
#include "platform/windows/windows_device_platform.hpp"

#include <gtest/gtest.h>

#include <string>

#include "os/file_system.hpp"
#include "os/os_error.hpp"
#include "platform/device_identity/describe_device.hpp"
#include "platform/device_identity/device_listing.hpp"
#include "platform/device_identity/device_number.hpp"
#include "platform/device_identity/system_disk_status.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/wine_detection.hpp"

namespace kestrel::testing {
namespace {

class WineDevices : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!running_under_wine())
      GTEST_SKIP() << "these expectations describe Wine's emulated devices";
  }
  WindowsDevicePlatform platform_;
};

TEST_F(WineDevices, DrivesSystemDirectoryAndVolumeInformation) {
  auto mask = platform_.logical_drives();
  ASSERT_TRUE(mask);
  EXPECT_NE(*mask & (1u << ('C' - 'A')), 0u);
  EXPECT_NE(*mask & (1u << ('Z' - 'A')), 0u);

  const auto directory = platform_.system_directory();
  ASSERT_TRUE(directory);
  EXPECT_EQ(directory->substr(0, 3), "C:\\");

  const auto information = platform_.volume_information('C');
  ASSERT_TRUE(information);
  EXPECT_FALSE(information->file_system.empty());
  EXPECT_FALSE(platform_.volume_information('Q'));

  TempDir dir;
  auto available = platform_.available_space(dir.path());
  ASSERT_TRUE(available) << available.error().message();
  EXPECT_GT(*available, 0u);
}

TEST_F(WineDevices, DeviceHandlesAndQueries) {
  auto missing = platform_.open(DevicePath::physical_drive(7), DeviceAccess::Query);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message(), "source I/O error (NotFound): " + os_error_text(2));

  auto drive = platform_.open(DevicePath::physical_drive(0), DeviceAccess::Query);
  ASSERT_TRUE(drive) << drive.error().message();
  EXPECT_EQ(platform_.device_number(*drive), 0u);
  // Wine lets a query-only handle ask for the number but not the length.
  auto denied = platform_.length(*drive);
  ASSERT_FALSE(denied);
  EXPECT_EQ(denied.error(), SourceError::read_permission_denied());
  platform_.close(*drive);
}

TEST_F(WineDevices, TheDiskHoldingAPathIsThatOfItsVolume) {
  TempDir dir;  // on C:, which Wine puts on disk 0
  auto drives = platform_.physical_drives_holding(dir.path());
  ASSERT_TRUE(drives) << drives.error().message();
  EXPECT_EQ(*drives, std::vector<std::uint32_t>{0});
  auto extended = platform_.physical_drives_holding(L"\\\\?\\" + dir.path().native());
  ASSERT_TRUE(extended) << extended.error().message();
  EXPECT_EQ(*extended, std::vector<std::uint32_t>{0});
}

TEST_F(WineDevices, TheRulesFindTheSystemDiskAndRefuseIt) {
  EXPECT_EQ(volume_device_number(platform_, U'c'), 0u);
  EXPECT_EQ(query_system_disk_status(platform_, 0), SystemDiskStatus::ConfirmedSystem);
  EXPECT_EQ(query_system_disk_status(platform_, 7), SystemDiskStatus::ConfirmedNonSystem);
  auto volume = describe_volume(platform_, U'C');
  ASSERT_FALSE(volume);
  EXPECT_EQ(volume.error(), SourceError::system_disk_blocked());
  auto drive = describe_physical_drive(platform_, 7);
  ASSERT_FALSE(drive);
  EXPECT_EQ(drive.error().message(), "source I/O error (NotFound): " + os_error_text(2));

  // Wine's volumes: the system's C:, and Z: (the host's root directory). What Wine answers
  // for Z: depends on how the host is mounted (access denied, or the same disk as C:), but
  // it is never readable: nothing is listed, and every volume gives one warning, in order.
  auto listing = list_devices(platform_);
  ASSERT_TRUE(listing) << listing.error().message();
  EXPECT_TRUE(listing->devices.empty());
  ASSERT_EQ(listing->warnings.size(), 2u);
  EXPECT_EQ(listing->warnings[0], "C: 검사 제외 · system disk is blocked");
  const std::string& z = listing->warnings[1];
  EXPECT_TRUE(z == "Z: 검사 제외 · permission denied while reading source" ||
              z == "Z: 검사 제외 · system disk is blocked")
      << z;
}

}  // namespace
}  // namespace kestrel::testing
