// The Linux backend's reading of sysfs: bus types from device paths, volume
// letters, device facts and the disks under a mapping, on prepared trees.
#include "platform/linux/linux_device_platform.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>

#include "os/os_error.hpp"
#include "platform/device_identity/device_number.hpp"
#include "platform/linux/block_device_catalog.hpp"
#include "platform/linux/disks_holding_path.hpp"
#include "platform/linux/sysfs_device_facts.hpp"
#include "platform/linux/udev_volume_properties.hpp"
#include "recovery-core/source/device_info.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

struct BusCase {
  const char* name;
  const char* disk;
  const char* path;
  std::optional<std::string_view> card_type;
  BusType expected;
  std::uint32_t code;
};

class SysfsBusTypes : public ::testing::TestWithParam<BusCase> {};

TEST_P(SysfsBusTypes, FollowTheDevicePath) {
  const auto code =
      bus_type_code_from_sysfs(GetParam().disk, GetParam().path, GetParam().card_type);
  EXPECT_EQ(code, GetParam().code);
  EXPECT_EQ(bus_type_from_code(code), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    LinuxBackend, SysfsBusTypes,
    ::testing::Values(
        BusCase{"UsbStick", "sdb",
                "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/"
                "block/sdb",
                std::nullopt, BusType::Usb, 7},
        BusCase{"SdCard", "mmcblk0",
                "/sys/devices/pci0000:00/0000:00:1e.6/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0", "SD",
                BusType::Sd, 12},
        BusCase{"MmcCard", "mmcblk0",
                "/sys/devices/pci0000:00/0000:00:1e.6/mmc_host/mmc0/mmc0:0001/block/mmcblk0", "MMC",
                BusType::Mmc, 13},
        BusCase{"SdioIsNotACard", "mmcblk0",
                "/sys/devices/pci0000:00/0000:00:1e.6/mmc_host/mmc0/mmc0:0001/block/mmcblk0",
                "SDIO", BusType::Other, 0x7F},
        BusCase{
            "SdCardInAUsbCardHost", "mmcblk0",
            "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/rtsx_usb_sdmmc.2/mmc_host/mmc0/"
            "mmc0:0001/block/mmcblk0",
            "SD", BusType::Sd, 12},
        BusCase{"SataDisk", "sda",
                "/sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda",
                std::nullopt, BusType::Sata, 11},
        BusCase{"NvmeDisk", "nvme0n1",
                "/sys/devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1",
                std::nullopt, BusType::Nvme, 17},
        BusCase{"FireWireDisk", "sdc",
                "/sys/devices/pci0000:00/0000:00:1e.0/0000:05:00.0/fw0/fw0.0/host7/target7:0:0/"
                "7:0:0:0/block/sdc",
                std::nullopt, BusType::Ieee1394, 4},
        BusCase{"VirtioDisk", "vda", "/sys/devices/pci0000:00/0000:00:02.0/virtio1/block/vda",
                std::nullopt, BusType::Other, 14},
        BusCase{"Loop", "loop0", "/sys/devices/virtual/block/loop0", std::nullopt, BusType::Other,
                15},
        BusCase{"DeviceMapper", "dm-0", "/sys/devices/virtual/block/dm-0", std::nullopt,
                BusType::Other, 16},
        BusCase{"MdArray", "md127", "/sys/devices/virtual/block/md127", std::nullopt,
                BusType::Other, 8},
        BusCase{"Zram", "zram0", "/sys/devices/virtual/block/zram0", std::nullopt, BusType::Other,
                14},
        BusCase{"ScsiDisk", "sda",
                "/sys/devices/pci0000:00/0000:00:10.0/host2/target2:0:0/2:0:0:0/block/sda",
                std::nullopt, BusType::Other, 1},
        BusCase{"NetworkBlockDevice", "nbd0", "/sys/devices/virtual/block/nbd0", std::nullopt,
                BusType::Other, 0x7F}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

BlockDisk disk(std::string name, std::uint32_t sequence, std::uint64_t sectors,
               std::vector<BlockPartition> partitions = {}, bool hidden = false) {
  BlockDisk d;
  d.name = std::move(name);
  d.sequence = sequence;
  d.size_sectors = sectors;
  d.partitions = std::move(partitions);
  d.hidden = hidden;
  return d;
}

BlockPartition partition(std::string name, std::uint32_t number, std::uint64_t sectors) {
  return BlockPartition{std::move(name), {8, number}, number, sectors};
}

TEST(VolumeLetters, DiskSequenceThenPartitionNumber) {
  const std::vector<BlockDisk> disks = {
      disk("sdc", 40, 1000, {partition("sdc2", 2, 10), partition("sdc1", 1, 10)}),
      disk("vda", 9, 1000),
      disk("loop0", 3, 0),                               // no medium
      disk("sdb", 41, 1000, {partition("sdb1", 1, 0)}),  // only an empty partition
      disk("nvme0n1", 12, 1000, {}, true),               // hidden path of a multipath disk
      disk("mmcblk0", 50, 1000, {partition("mmcblk0p1", 1, 500)}),
  };
  std::vector<BlockDisk> sorted = disks;
  for (auto& d : sorted) std::ranges::sort(d.partitions, {}, &BlockPartition::number);
  const auto volumes = letter_volumes(sorted);
  std::vector<std::string> seen;
  for (const auto& v : volumes) {
    seen.push_back(std::string(1, v.letter) + "=" + v.name + "@" + std::to_string(v.disk_sequence) +
                   "#" + std::to_string(v.partition_number));
  }
  const std::vector<std::string> expected = {"A=vda@9#0", "B=sdc1@40#1", "C=sdc2@40#2",
                                             "D=mmcblk0p1@50#1"};
  EXPECT_EQ(seen, expected);
}

TEST(VolumeLetters, OnlyTwentySixGetALetter) {
  std::vector<BlockDisk> disks;
  for (std::uint32_t i = 0; i < 30; ++i) disks.push_back(disk("d" + std::to_string(i), 100 + i, 8));
  const auto volumes = letter_volumes(disks);
  ASSERT_EQ(volumes.size(), 26u);
  EXPECT_EQ(volumes.front().letter, 'A');
  EXPECT_EQ(volumes.back().letter, 'Z');
  EXPECT_EQ(volumes.back().disk_sequence, 125u);
}

TEST(UdevEscapes, AreDecoded) {
  EXPECT_EQ(decode_udev_escapes("MY\\x20CARD"), "MY CARD");
  EXPECT_EQ(decode_udev_escapes("\\xea\\xb0\\x80"), "\xea\xb0\x80");
  EXPECT_EQ(decode_udev_escapes("a\\x2"), "a\\x2");
  EXPECT_EQ(decode_udev_escapes("a\\xZZ"), "a\\xZZ");
}

// A small sysfs: a USB card reader sdb (two partitions), a SATA disk sda
// whose second partition carries a device-mapper device dm-0.
class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    paths_.sysfs = dir_ / "sys";
    paths_.dev = dir_ / "dev";
    paths_.udev_data = dir_ / "udev";
    paths_.mountinfo = dir_ / "mountinfo";
    std::filesystem::create_directories(paths_.dev);
    std::filesystem::create_directories(paths_.udev_data);

    const auto usb_device = paths_.sysfs / "devices/pci0000:00/0000:00:14.0/usb2/2-1";
    const auto scsi_device = usb_device / "2-1:1.0/host6/target6:0:0/6:0:0:0";
    const auto sdb = scsi_device / "block/sdb";
    put(usb_device / "idVendor", "0bda\n");
    put(usb_device / "serial", "000000001234\n");
    put(scsi_device / "vendor", "Generic \n");
    put(scsi_device / "model", "STORAGE DEVICE  \n");
    put(scsi_device / "rev", "1539\n");
    block(sdb, "8:16", "42", "62333952", "1");
    link(sdb / "device", scsi_device);
    put(sdb / "queue/logical_block_size", "512\n");
    put(sdb / "queue/physical_block_size", "4096\n");
    part(sdb / "sdb1", "8:17", "1", "2048");
    part(sdb / "sdb2", "8:18", "2", "62328832");

    const auto ata_device =
        paths_.sysfs / "devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0";
    const auto sda = ata_device / "block/sda";
    put(ata_device / "vendor", "ATA     \n");
    put(ata_device / "model", "Samsung SSD 870\n");
    block(sda, "8:0", "7", "1000215216", "0");
    link(sda / "device", ata_device);
    part(sda / "sda1", "8:1", "1", "1048576");
    part(sda / "sda2", "8:2", "2", "999000000");

    const auto dm = paths_.sysfs / "devices/virtual/block/dm-0";
    block(dm, "253:0", "30", "999000000", "0");
    link(dm / "slaves/sda2", sda / "sda2");

    link(paths_.sysfs / "block/sdb", sdb);
    link(paths_.sysfs / "block/sda", sda);
    link(paths_.sysfs / "block/dm-0", dm);
    for (auto [number, target] :
         {std::pair{"8:16", sdb}, std::pair{"8:17", sdb / "sdb1"}, std::pair{"8:18", sdb / "sdb2"},
          std::pair{"8:0", sda}, std::pair{"8:2", sda / "sda2"}, std::pair{"253:0", dm}}) {
      link(paths_.sysfs / "dev/block" / number, target);
    }
    put(paths_.udev_data / "b8:17",
        "E:ID_FS_TYPE=vfat\nE:ID_FS_LABEL=MY_CARD\nE:ID_FS_LABEL_ENC=MY\\x20CARD\n");
  }

  static void put(const std::filesystem::path& file, std::string_view text) {
    std::filesystem::create_directories(file.parent_path());
    write_file(file, text);
  }
  static void link(const std::filesystem::path& at, const std::filesystem::path& target) {
    std::filesystem::create_directories(at.parent_path());
    std::filesystem::create_directory_symlink(target, at);
  }
  static void block(const std::filesystem::path& d, const char* dev, const char* seq,
                    const char* size, const char* removable) {
    put(d / "dev", std::string(dev) + "\n");
    put(d / "diskseq", std::string(seq) + "\n");
    put(d / "size", std::string(size) + "\n");
    put(d / "removable", std::string(removable) + "\n");
    std::filesystem::create_directories(d / "slaves");
  }
  static void part(const std::filesystem::path& p, const char* dev, const char* number,
                   const char* size) {
    put(p / "dev", std::string(dev) + "\n");
    put(p / "partition", std::string(number) + "\n");
    put(p / "size", std::string(size) + "\n");
  }

  TempDir dir_;
  LinuxSystemPaths paths_;
};

TEST_F(FakeSysfs, ScansDisksBySequenceNumber) {
  auto disks = scan_block_disks(paths_);
  ASSERT_TRUE(disks);
  ASSERT_EQ(disks->size(), 3u);
  EXPECT_EQ((*disks)[0].name, "sda");
  EXPECT_EQ((*disks)[1].name, "dm-0");
  EXPECT_EQ((*disks)[2].name, "sdb");
  ASSERT_EQ((*disks)[2].partitions.size(), 2u);
  EXPECT_EQ((*disks)[2].partitions[1].name, "sdb2");
  EXPECT_EQ((*disks)[2].partitions[1].device, (BlockDeviceNumber{8, 18}));
  const auto volumes = letter_volumes(*disks);
  ASSERT_EQ(volumes.size(), 5u);
  EXPECT_EQ(volumes[2].name, "dm-0");
  EXPECT_EQ(volumes[3].name, "sdb1");
  EXPECT_EQ(volumes[3].letter, 'D');
}

TEST_F(FakeSysfs, ReadsDeviceFacts) {
  const auto usb = read_sysfs_device_facts(paths_.sysfs / "block/sdb");
  EXPECT_EQ(usb.bus_type_code, 7u);
  EXPECT_EQ(usb.vendor, "Generic ");
  EXPECT_EQ(usb.product, "STORAGE DEVICE  ");
  EXPECT_EQ(usb.serial, "000000001234");  // the USB device's serial number
  const auto sata = read_sysfs_device_facts(paths_.sysfs / "block/sda");
  EXPECT_EQ(sata.bus_type_code, 11u);
  EXPECT_EQ(sata.serial, std::nullopt);
  const auto dm = read_sysfs_device_facts(paths_.sysfs / "block/dm-0");
  EXPECT_EQ(dm.bus_type_code, 16u);
  EXPECT_EQ(dm.vendor, std::nullopt);
}

TEST_F(FakeSysfs, DisksUnderAMappingAndAPartition) {
  EXPECT_EQ(disks_holding_device(paths_, {253, 0}), (std::vector<std::uint32_t>{30, 7}));
  EXPECT_EQ(disks_holding_device(paths_, {8, 18}), (std::vector<std::uint32_t>{42}));
  EXPECT_EQ(disks_holding_device(paths_, {8, 16}), (std::vector<std::uint32_t>{42}));
  EXPECT_TRUE(disks_holding_device(paths_, {0, 44}).empty());  // tmpfs and friends
}

TEST_F(FakeSysfs, QueryHandlesAnswerFromSysfs) {
  LinuxDevicePlatform platform(paths_);
  auto mask = platform.logical_drives();
  ASSERT_TRUE(mask);
  EXPECT_EQ(*mask, 0b11111u);
  EXPECT_EQ(volume_device_number(platform, U'd'), 42u);  // sdb1 lies on sdb
  EXPECT_EQ(volume_device_number(platform, U'C'), 30u);  // dm-0 is its own drive
  auto missing = volume_device_number(platform, U'F');
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message(),
            "source I/O error (NotFound): No such file or directory (os error 2)");

  auto handle = platform.open(DevicePath::volume('E'), DeviceAccess::Query);
  ASSERT_TRUE(handle);
  EXPECT_EQ(platform.length(*handle), 62328832ull * 512);
  EXPECT_EQ(platform.access_alignment(*handle)->physical, 4096u);
  EXPECT_EQ(platform.device_number(*handle), 42u);
  std::array<std::uint8_t, 512> buffer{};
  auto read = platform.read_at(*handle, 0, buffer);  // a query handle may not read
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error(), source_error_from_errno(EBADF));
  platform.close(*handle);

  // Another medium in the reader: handles opened before it answer "no medium".
  handle = platform.open(DevicePath::volume('D'), DeviceAccess::Query);
  ASSERT_TRUE(handle);
  put(paths_.sysfs / "block/sdb/diskseq", "43\n");
  auto answer = platform.device_number(*handle);
  ASSERT_FALSE(answer);
  EXPECT_EQ(answer.error().message(), "device disconnected during read");
  EXPECT_FALSE(platform.access_alignment(*handle));
  platform.close(*handle);
}

TEST_F(FakeSysfs, VolumeInformationFromUdev) {
  LinuxDevicePlatform platform(paths_);
  const auto information = platform.volume_information('D');
  ASSERT_TRUE(information);
  EXPECT_EQ(information->label, "MY CARD");
  EXPECT_EQ(information->file_system, "vfat");
  EXPECT_FALSE(platform.volume_information('E'));  // udev knows nothing
}

}  // namespace
}  // namespace kestrel::testing
