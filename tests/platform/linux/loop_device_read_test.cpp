// The Linux backend on a real block device: a loop device over a file is
// described and read through O_DIRECT, with buffers that are and are not
// aligned to the sector size. Needs the rights to attach a loop device; the
// test is skipped where they are missing.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/device_identity/describe_device.hpp"
#include "platform/linux/linux_device_platform.hpp"
#include "platform/linux/sysfs_attribute.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

// A loop device attached to a file for the life of the object.
class LoopDevice {
 public:
  explicit LoopDevice(const std::filesystem::path& backing) {
    const std::string command = "losetup -f --show '" + backing.string() + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return;
    char line[256] = {};
    if (std::fgets(line, sizeof line, pipe) != nullptr) node_ = line;
    if (::pclose(pipe) != 0) node_.clear();
    while (!node_.empty() && (node_.back() == '\n' || node_.back() == ' ')) node_.pop_back();
  }
  ~LoopDevice() {
    if (!node_.empty()) {
      const std::string command = "losetup -d '" + node_ + "' 2>/dev/null";
      [[maybe_unused]] const int status = std::system(command.c_str());
    }
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  bool attached() const { return !node_.empty(); }
  std::string name() const { return std::filesystem::path(node_).filename().string(); }

 private:
  std::string node_;
};

TEST(LoopDeviceRead, DirectReadsDeliverTheBackingFile) {
  TempDir dir;
  std::vector<std::uint8_t> bytes(1 << 20);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>((i * 13 + i / 512) & 0xFF);
  write_file(dir / "disk.img", std::string(bytes.begin(), bytes.end()));
  LoopDevice loop(dir / "disk.img");
  if (!loop.attached()) GTEST_SKIP() << "no loop device could be attached here";
  const auto sequence =
      read_sysfs_number(std::filesystem::path("/sys/block") / loop.name() / "diskseq");
  ASSERT_TRUE(sequence);

  LinuxDevicePlatform platform;
  auto handle = platform.open(DevicePath::physical_drive(static_cast<std::uint32_t>(*sequence)),
                              DeviceAccess::Read);
  ASSERT_TRUE(handle) << handle.error().message();

  auto info = describe_device(platform, *handle, static_cast<std::uint32_t>(*sequence));
  ASSERT_TRUE(info) << info.error().message();
  EXPECT_EQ(info->capacity_bytes, bytes.size());
  EXPECT_EQ(info->bus_type, BusType::Other);
  EXPECT_EQ(info->bus_type_code, 15u);
  EXPECT_EQ(info->physical_drive_number, *sequence);
  EXPECT_FALSE(check_readable(*info));  // a loop device is never read raw by the tool

  const std::uint32_t sector = info->logical_sector_size;
  // An aligned request into a buffer that is not sector aligned goes through
  // the bounce buffer; the same request into an aligned one does not.
  std::vector<std::uint8_t> storage(3 * sector + 1);
  const std::span<std::uint8_t> misaligned(storage.data() + 1, 2 * sector);
  auto read = platform.read_at(*handle, sector, misaligned);
  ASSERT_TRUE(read) << read.error().message();
  EXPECT_EQ(*read, 2 * sector);
  EXPECT_TRUE(std::equal(misaligned.begin(), misaligned.end(), bytes.begin() + sector));

  alignas(4096) static std::uint8_t aligned[8192];
  read = platform.read_at(*handle, 4 * sector, std::span(aligned, 4096));
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, 4096u);
  EXPECT_TRUE(std::equal(aligned, aligned + 4096, bytes.begin() + 4 * sector));

  // Offsets off the sector grid are read around their sectors.
  std::vector<std::uint8_t> odd(100);
  read = platform.read_at(*handle, 1000, odd);
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, 100u);
  EXPECT_TRUE(std::equal(odd.begin(), odd.end(), bytes.begin() + 1000));

  // At the end of the device fewer bytes (here none) are delivered.
  read = platform.read_at(*handle, bytes.size(), std::span(aligned, sector));
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, 0u);
  platform.close(*handle);
}

}  // namespace
}  // namespace kestrel::testing
