// The guarded raw reader against recorded devices: opening against an
// expected description, a fresh description before every read, validation,
// one positional read, and one close per handle on every path.
#include "platform/device_identity/raw_device_source.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <numeric>
#include <vector>

#include "platform/device_identity/describe_device.hpp"
#include "tests/support/simulated-platform/simulated_platform.hpp"

namespace kestrel::testing {
namespace {

constexpr std::int64_t kCardBytes = 4 << 20;
constexpr std::uint64_t kMaxRequest = 1'048'576;

// The bytes on the card of drive 2.
const std::vector<std::uint8_t>& card_bytes() {
  static const std::vector<std::uint8_t> bytes = [] {
    std::vector<std::uint8_t> pattern(kCardBytes);
    for (std::size_t i = 0; i < pattern.size(); ++i)
      pattern[i] = static_cast<std::uint8_t>((i * 7 + i / 512) & 0xFF);
    return pattern;
  }();
  return bytes;
}

SimulatedPlatform machine() {
  SimulatedPlatform platform;
  platform.disks.push_back(internal_disk(0, 11));
  SimulatedDisk card = usb_card(2, kCardBytes);
  card.content = std::make_shared<MediumContent>(card_bytes());
  platform.disks.push_back(card);
  platform.disks.push_back(usb_card(3, kCardBytes, "OTHER"));
  platform.volumes.push_back(volume_on('C', 0));
  platform.volumes.push_back(volume_on('E', 2));
  return platform;
}

void expect_handles_balanced(const SimulatedPlatform& platform) {
  EXPECT_EQ(platform.opens(), platform.closes());
  EXPECT_EQ(platform.open_handles(), 0u);
  EXPECT_EQ(platform.bad_closes(), 0u);
}

constexpr ReadLimits kLimits{.max_request_bytes = kMaxRequest, .require_alignment = true};

// Describes drive 2, opens it and makes the reader, as the image command does.
RawDeviceSource open_card(SimulatedPlatform& platform, std::uint32_t drive = 2) {
  auto expected = describe_physical_drive(platform, drive);
  EXPECT_TRUE(expected) << expected.error().message();
  auto opened = open_physical_drive(platform, *expected);
  EXPECT_TRUE(opened) << opened.error().message();
  return RawDeviceSource(std::move(*opened), kLimits);
}

TEST(RawDeviceSource, EveryReadDescribesTheDeviceAgainThenReadsOnce) {
  auto platform = machine();
  {
    RawDeviceSource source = open_card(platform);
    platform.clear_log();
    std::vector<std::uint8_t> buffer(4096);
    ASSERT_TRUE(source.read_at(8192, buffer));
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), card_bytes().begin() + 8192));
    const std::vector<std::string> expected_log = {"system-directory",
                                                   "open \\\\.\\C: query -> h5",
                                                   "control device-number h5",
                                                   "close h5",
                                                   "control length h4",
                                                   "control alignment h4",
                                                   "control descriptor-header h4",
                                                   "control descriptor h4",
                                                   "read h4 8192+4096"};
    EXPECT_EQ(platform.log(), expected_log);
    EXPECT_EQ(source.expected_identity().capacity_bytes, static_cast<std::uint64_t>(kCardBytes));
  }
  expect_handles_balanced(platform);  // destroying the source closed its handle once
}

struct ReadCase {
  const char* name;
  std::function<void(SimulatedPlatform&)> change;  // applied after the source exists
  std::uint64_t offset;
  std::uint64_t length;
  std::string expected;  // empty: success
  bool reaches_the_medium;
  bool before_transfer;
};

class RawReads : public ::testing::TestWithParam<ReadCase> {};

TEST_P(RawReads, CheckTheDeviceAndTheRequestBeforeReading) {
  auto platform = machine();
  {
    RawDeviceSource source = open_card(platform);
    GetParam().change(platform);
    platform.clear_log();
    std::vector<std::uint8_t> buffer(GetParam().length);
    auto read = source.read_at(GetParam().offset, buffer);
    if (GetParam().expected.empty()) {
      EXPECT_TRUE(read) << read.error().message();
    } else {
      ASSERT_FALSE(read);
      EXPECT_EQ(read.error().message(), GetParam().expected);
      EXPECT_EQ(read.error().arose_before_transfer(), GetParam().before_transfer);
      EXPECT_EQ(read.error().may_be_zero_filled(),
                read.error().is_generic_io() && !GetParam().before_transfer);
    }
    EXPECT_EQ(platform.log_of("read ").size(), GetParam().reaches_the_medium ? 1u : 0u);
  }
  expect_handles_balanced(platform);
}

RecordedAnswer error_answer(std::uint32_t code) { return RecordedAnswer{code, {}, {}}; }

SimulatedDisk smaller_card() {
  SimulatedDisk card = usb_card(2, kCardBytes - (1 << 20));
  return card;
}

INSTANTIATE_TEST_SUITE_P(
    RawDeviceSource, RawReads,
    ::testing::Values(
        ReadCase{"ZeroLengthAtCapacity", [](auto&) {}, kCardBytes, 0, "", false, false},
        ReadCase{"ZeroLengthOneSectorPastCapacity", [](auto&) {}, kCardBytes + 512, 0,
                 "read range exceeds source: offset=4194816 length=0 capacity=4194304", false,
                 true},
        ReadCase{"EndsAtCapacity", [](auto&) {}, kCardBytes - 1'048'576, 1'048'576, "", true,
                 false},
        ReadCase{"OneSectorTooLong", [](auto&) {}, 0, 1'048'576 + 512,
                 "read request is too large: 1049088 > 1048576", false, true},
        ReadCase{"OffsetNotAligned", [](auto&) {}, 513, 512,
                 "read offset is not aligned: offset=513 sector=512", false, true},
        ReadCase{"LengthNotAligned", [](auto&) {}, 512, 100,
                 "read length is not aligned: length=100 sector=512", false, true},
        ReadCase{"CardSwappedInTheSameReader",
                 [](SimulatedPlatform& p) { *p.disk(2) = smaller_card(); }, 0, 512,
                 "device identity mismatch: capacity_bytes", false, true},
        ReadCase{"SerialChanged", [](SimulatedPlatform& p) { p.disk(2)->facts.serial = "SN0002"; },
                 0, 512, "device identity mismatch: serial_number", false, true},
        ReadCase{"BecameTheSystemDisk",
                 [](SimulatedPlatform& p) {
                   // the system now runs from the card, which also reports another size
                   p.system_directory_text = "E:\\Windows";
                   *p.disk(2) = smaller_card();
                 },
                 0, 512, "system disk is blocked", false, true},
        ReadCase{"SystemDiskNoLongerKnown",
                 [](SimulatedPlatform& p) { p.system_directory_text = std::nullopt; }, 0, 512,
                 "system disk state is unknown; fail-closed", false, true},
        ReadCase{
            "ShortRead",
            [](SimulatedPlatform& p) { p.read_faults.push_back(short_read_fault(2, 0, 512, 100)); },
            0, 512, "short read: expected=512 actual=100", true, false},
        ReadCase{
            "BadSector",
            [](SimulatedPlatform& p) { p.read_faults.push_back(read_fault(2, 1024, 512)); }, 512,
            1024,
            "source I/O error (Uncategorized): Data error (cyclic redundancy check). (os error "
            "23)",
            true, false},
        ReadCase{"ReadDenied",
                 [](SimulatedPlatform& p) {
                   p.read_faults.push_back(read_fault(2, 0, 1, win32::kAccessDenied));
                 },
                 0, 512, "permission denied while reading source", true, false},
        ReadCase{"Unplugged",
                 [](SimulatedPlatform& p) { p.events.push_back(disconnect_after(2, 0)); }, 0, 512,
                 "device disconnected during read", false, true},
        // Failures of the fresh description are generic I/O errors on Windows;
        // they must end the run rather than be zero-filled.
        ReadCase{"MediaChangedWhileDescribing",
                 [](SimulatedPlatform& p) {
                   p.disk(2)->answers[RecordedControl::Length] = error_answer(win32::kMediaChanged);
                 },
                 0, 512,
                 "source I/O error (Uncategorized): The media in the drive may have changed. (os "
                 "error 1110)",
                 false, true},
        ReadCase{
            "NoMediaWhileDescribing",
            [](SimulatedPlatform& p) {
              p.disk(2)->answers[RecordedControl::Descriptor] =
                  error_answer(win32::kNoMediaInDrive);
            },
            0, 512,
            "source I/O error (Uncategorized): There is no media in the drive. (os error 1112)",
            false, true},
        ReadCase{"ShortIoctlWhileDescribing",
                 [](SimulatedPlatform& p) {
                   p.disk(2)->answers[RecordedControl::Length] =
                       RecordedAnswer{std::nullopt, {0, 0, 0, 0}, std::nullopt};
                 },
                 0, 512,
                 "source I/O error (UnexpectedEof): short IOCTL output: GET_LENGTH_INFORMATION",
                 false, true},
        ReadCase{"InvalidDescriptorWhileDescribing",
                 [](SimulatedPlatform& p) {
                   p.disk(2)->answers[RecordedControl::DescriptorHeader] =
                       RecordedAnswer{std::nullopt, {}, std::nullopt};
                 },
                 0, 512,
                 "source I/O error (InvalidData): invalid STORAGE_DEVICE_DESCRIPTOR size: 0", false,
                 true}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(RawDeviceSource, FourKibibyteSectorsAlignment) {
  auto platform = machine();
  platform.disk(2)->logical_sector_size = 4096;
  platform.disk(2)->physical_sector_size = 4096;
  RawDeviceSource source = open_card(platform);
  std::vector<std::uint8_t> buffer(4096);
  auto read = source.read_at(512, buffer);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error().message(), "read offset is not aligned: offset=512 sector=4096");
  std::vector<std::uint8_t> small(512);
  read = source.read_at(4096, small);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error().message(), "read length is not aligned: length=512 sector=4096");
  EXPECT_TRUE(source.read_at(4096, buffer));
}

TEST(RawDeviceSource, SwappedCardFailsTheNextReadBeforeAnythingIsRead) {
  auto platform = machine();
  RawDeviceSource source = open_card(platform);
  platform.events.push_back(replace_after(2, 1, smaller_card()));
  std::vector<std::uint8_t> buffer(512);
  ASSERT_TRUE(source.read_at(0, buffer));
  const auto reads_before = platform.log_of("read ").size();
  auto read = source.read_at(512, buffer);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error().message(), "device identity mismatch: capacity_bytes");
  EXPECT_EQ(platform.log_of("read ").size(), reads_before);
  // The source stays usable: every later read describes the device again.
  read = source.read_at(512, buffer);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error().message(), "device identity mismatch: capacity_bytes");
}

TEST(RawDeviceSource, ARenumberedSerialDeviceStillMatches) {
  auto platform = machine();
  RawDeviceSource source = open_card(platform);
  std::vector<std::uint8_t> buffer(512);
  ASSERT_TRUE(source.read_at(0, buffer));
}

struct OpenCase {
  const char* name;
  std::function<void(SimulatedPlatform&, DeviceInfo&)> change;
  bool by_volume;
  std::string expected;
};

class RawOpens : public ::testing::TestWithParam<OpenCase> {};

TEST_P(RawOpens, RefuseAndLeaveNoHandleOpen) {
  auto platform = machine();
  auto expected = describe_physical_drive(platform, 2);
  ASSERT_TRUE(expected);
  DeviceInfo info = *expected;
  GetParam().change(platform, info);
  std::expected<OpenedDevice, SourceError> opened = GetParam().by_volume
                                                        ? open_volume(platform, U'E', info)
                                                        : open_physical_drive(platform, info);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().message(), GetParam().expected);
  expect_handles_balanced(platform);
}

INSTANTIATE_TEST_SUITE_P(
    RawDeviceSource, RawOpens,
    ::testing::Values(
        OpenCase{"VolumeNowOnAnotherDisk",
                 [](SimulatedPlatform& p, DeviceInfo&) { p.volume('E')->drive_number = 3; }, true,
                 "device identity mismatch: physical_drive_number"},
        OpenCase{"UnknownExpectedStatus",
                 [](SimulatedPlatform&, DeviceInfo& d) {
                   d.system_disk_status = SystemDiskStatus::Unknown;
                 },
                 false, "system disk state is unknown; fail-closed"},
        OpenCase{"UnknownExpectedStatusByVolume",
                 [](SimulatedPlatform&, DeviceInfo& d) {
                   d.system_disk_status = SystemDiskStatus::Unknown;
                 },
                 true, "system disk state is unknown; fail-closed"},
        OpenCase{"SystemDiskNow",
                 [](SimulatedPlatform& p, DeviceInfo&) { p.system_directory_text = "E:\\W"; },
                 false, "system disk is blocked"},
        OpenCase{"BusRefusedFirst",
                 [](SimulatedPlatform&, DeviceInfo& d) {
                   d.bus_type = BusType::Sata;
                   d.capacity_bytes = 0;  // the guards' own order: capacity before the bus
                 },
                 false, "device capacity must be greater than zero"},
        OpenCase{"SataExpected",
                 [](SimulatedPlatform&, DeviceInfo& d) { d.bus_type = BusType::Sata; }, false,
                 "physical raw reading is not allowed for bus type: sata"},
        OpenCase{
            "PermissionDenied",
            [](SimulatedPlatform& p, DeviceInfo&) { p.disk(2)->open_error = win32::kAccessDenied; },
            false, "permission denied while reading source"},
        OpenCase{"VolumePermissionDenied",
                 [](SimulatedPlatform& p, DeviceInfo&) {
                   p.volume('E')->open_error = win32::kAccessDenied;
                 },
                 true, "permission denied while reading source"},
        OpenCase{"ChangedBeforeOpen",
                 [](SimulatedPlatform& p, DeviceInfo&) { p.disk(2)->facts.product = "Other"; },
                 false, "device identity mismatch: product_id"},
        OpenCase{"VolumeDescriptionFails",
                 [](SimulatedPlatform& p, DeviceInfo&) {
                   p.disk(2)->answers[RecordedControl::Length] =
                       RecordedAnswer{win32::kNotReady, {}, {}};
                 },
                 true, "device disconnected during read"}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(RawDeviceSource, OpeningAsksForTheSystemDiskOnceAndTheFirstReadChecksAgain) {
  auto platform = machine();
  auto expected = describe_physical_drive(platform, 2);
  ASSERT_TRUE(expected);
  platform.clear_log();
  auto opened = open_physical_drive(platform, *expected);
  ASSERT_TRUE(opened) << opened.error().message();
  const std::vector<std::string> expected_log = {"system-directory",
                                                 "open \\\\.\\C: query -> h3",
                                                 "control device-number h3",
                                                 "close h3",
                                                 "open \\\\.\\PhysicalDrive2 read -> h4",
                                                 "control length h4",
                                                 "control alignment h4",
                                                 "control descriptor-header h4",
                                                 "control descriptor h4"};
  EXPECT_EQ(platform.log(), expected_log);

  // What changes between the open and the first read is caught by that read.
  platform.disk(2)->facts.vendor = "Changed";
  RawDeviceSource source(std::move(*opened), kLimits);
  std::vector<std::uint8_t> buffer(512);
  auto read = source.read_at(0, buffer);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error().message(), "device identity mismatch: vendor_id");
  EXPECT_TRUE(platform.log_of("read ").empty());
}

TEST(RawDeviceSource, VolumeReaderReadsTheVolume) {
  auto platform = machine();
  platform.volume('E')->start = 1 << 20;
  platform.volume('E')->length = 2 << 20;
  auto expected = describe_volume(platform, U'E');
  ASSERT_TRUE(expected);
  EXPECT_EQ(expected->capacity_bytes, 2u << 20);
  {
    auto opened = open_volume(platform, U'e', *expected);
    ASSERT_TRUE(opened) << opened.error().message();
    RawDeviceSource source(std::move(*opened), kLimits);
    std::vector<std::uint8_t> buffer(512);
    ASSERT_TRUE(source.read_at(0, buffer));
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), card_bytes().begin() + (1 << 20)));
    auto past = source.read_at(2 << 20, buffer);
    ASSERT_FALSE(past);
    EXPECT_EQ(past.error().message(),
              "read range exceeds source: offset=2097152 length=512 capacity=2097152");
  }
  expect_handles_balanced(platform);
}

TEST(RawDeviceSource, MovedSourceClosesItsHandleOnce) {
  auto platform = machine();
  {
    RawDeviceSource first = open_card(platform);
    RawDeviceSource second = std::move(first);
    RawDeviceSource third = open_card(platform);
    third = std::move(second);  // the third's own handle is closed here
    EXPECT_EQ(platform.open_handles(), 1u);
  }
  expect_handles_balanced(platform);
}

}  // namespace
}  // namespace kestrel::testing
