// The device description rules against recorded devices: the order of the
// queries, the fallbacks, the size bounds, the text parsing and the guards.
#include "platform/device_identity/describe_device.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/device_identity/device_number.hpp"
#include "platform/device_identity/drive_letter.hpp"
#include "platform/device_identity/reported_text.hpp"
#include "platform/device_identity/system_disk_status.hpp"
#include "platform/windows/ioctl/storage_ioctl.hpp"
#include "tests/support/simulated-platform/simulated_platform.hpp"
#include "tests/support/simulated-platform/windows_answers.hpp"

namespace kestrel::testing {
namespace {

constexpr std::int64_t kCardBytes = 31'914'983'424;

// A machine with its system on C: (SATA drive 0) and a USB card reader on
// drive 2 whose card is volume E:.
SimulatedPlatform machine() {
  SimulatedPlatform platform;
  platform.disks.push_back(internal_disk(0, 11));
  platform.disks.push_back(usb_card(2, kCardBytes));
  platform.volumes.push_back(volume_on('C', 0));
  platform.volumes.push_back(volume_on('E', 2, "CARD"));
  return platform;
}

void expect_handles_balanced(const SimulatedPlatform& platform) {
  EXPECT_EQ(platform.opens(), platform.closes());
  EXPECT_EQ(platform.open_handles(), 0u);
  EXPECT_EQ(platform.bad_closes(), 0u);
}

TEST(DescribePhysicalDrive, QueriesInOrderAndFillsTheDescription) {
  auto platform = machine();
  auto info = describe_physical_drive(platform, 2);
  ASSERT_TRUE(info) << info.error().message();

  const std::vector<std::string> expected_log = {
      // system-disk refusal before the drive is opened
      "system-directory", "open \\\\.\\C: query -> h1", "control device-number h1", "close h1",
      "open \\\\.\\PhysicalDrive2 read -> h2",
      // describe_device: the status just asked is taken, then the drive's own queries
      "control length h2", "control alignment h2", "control descriptor-header h2",
      "control descriptor h2", "close h2"};
  EXPECT_EQ(platform.log(), expected_log);

  EXPECT_EQ(info->physical_drive_number, 2u);
  EXPECT_EQ(info->bus_type, BusType::Usb);
  EXPECT_EQ(info->bus_type_code, 7u);
  EXPECT_EQ(info->vendor_id, "Example");
  EXPECT_EQ(info->product_id, "Card Reader");
  EXPECT_EQ(info->serial_number, "SN0001");
  EXPECT_EQ(info->capacity_bytes, static_cast<std::uint64_t>(kCardBytes));
  EXPECT_EQ(info->logical_sector_size, 512u);
  EXPECT_EQ(info->physical_sector_size, 512u);
  EXPECT_EQ(info->stable_id, "usb:example:card-reader:sn0001");
  EXPECT_EQ(info->identity_stability, IdentityStability::DeviceSerial);
  EXPECT_EQ(info->system_disk_status, SystemDiskStatus::ConfirmedNonSystem);
  expect_handles_balanced(platform);
}

TEST(DescribeVolume, NumberFromAQueryHandleThenEveryQueryOnTheVolume) {
  auto platform = machine();
  platform.volume('E')->length = 1'000'000'000;
  auto info = describe_volume(platform, U'e');
  ASSERT_TRUE(info) << info.error().message();
  EXPECT_EQ(info->capacity_bytes, 1'000'000'000u);  // the volume's own length
  EXPECT_EQ(info->physical_drive_number, 2u);
  const std::vector<std::string> expected_log = {"open \\\\.\\E: query -> h1",
                                                 "control device-number h1",
                                                 "close h1",
                                                 "system-directory",
                                                 "open \\\\.\\C: query -> h2",
                                                 "control device-number h2",
                                                 "close h2",
                                                 "open \\\\.\\E: read -> h3",
                                                 "control length h3",
                                                 "control alignment h3",
                                                 "control descriptor-header h3",
                                                 "control descriptor h3",
                                                 "close h3"};
  EXPECT_EQ(platform.log(), expected_log);
  expect_handles_balanced(platform);
}

struct RefusalCase {
  const char* name;
  std::function<void(SimulatedPlatform&)> change;
  std::uint32_t drive_number;
  std::string expected;
};

class DescribeRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(DescribeRefusals, FailWithTheirMessageAndCloseEveryHandle) {
  auto platform = machine();
  GetParam().change(platform);
  auto info = describe_physical_drive(platform, GetParam().drive_number);
  ASSERT_FALSE(info);
  EXPECT_EQ(info.error().message(), GetParam().expected);
  expect_handles_balanced(platform);
}

RecordedAnswer bytes_answer(std::vector<std::uint8_t> bytes) {
  return RecordedAnswer{std::nullopt, std::move(bytes), std::nullopt};
}

RecordedAnswer error_answer(std::uint32_t code) { return RecordedAnswer{code, {}, {}}; }

RecordedAnswer header_with_size(std::uint32_t size) {
  std::vector<std::uint8_t> header(8, 0);
  for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
  return bytes_answer(header);
}

INSTANTIATE_TEST_SUITE_P(
    DescribeDevice, DescribeRefusals,
    ::testing::Values(
        RefusalCase{"SystemDisk", [](auto&) {}, 0, "system disk is blocked"},
        RefusalCase{"SataNotSystem",
                    [](SimulatedPlatform& p) { p.disks.push_back(internal_disk(1, 11)); }, 1,
                    "physical raw reading is not allowed for bus type: sata"},
        RefusalCase{"Nvme", [](SimulatedPlatform& p) { p.disks.push_back(internal_disk(1, 17)); },
                    1, "physical raw reading is not allowed for bus type: nvme"},
        RefusalCase{"Scsi", [](SimulatedPlatform& p) { p.disks.push_back(internal_disk(1, 1)); }, 1,
                    "physical raw reading is not allowed for bus type: other"},
        RefusalCase{"DescriptorSize35",
                    [](SimulatedPlatform& p) {
                      p.disk(2)->answers[RecordedControl::DescriptorHeader] = header_with_size(35);
                    },
                    2,
                    "source I/O error (InvalidData): invalid STORAGE_DEVICE_DESCRIPTOR size: 35"},
        RefusalCase{
            "DescriptorSizeAboveOneMebibyte",
            [](SimulatedPlatform& p) {
              p.disk(2)->answers[RecordedControl::DescriptorHeader] = header_with_size(1'048'577);
            },
            2, "source I/O error (InvalidData): invalid STORAGE_DEVICE_DESCRIPTOR size: 1048577"},
        RefusalCase{"EmptyDescriptorHeader",
                    [](SimulatedPlatform& p) {
                      p.disk(2)->answers[RecordedControl::DescriptorHeader] = bytes_answer({});
                    },
                    2, "source I/O error (InvalidData): invalid STORAGE_DEVICE_DESCRIPTOR size: 0"},
        RefusalCase{"ShortDescriptor",
                    [](SimulatedPlatform& p) {
                      p.disk(2)->answers[RecordedControl::Descriptor] =
                          RecordedAnswer{std::nullopt, std::vector<std::uint8_t>(40, 0), 35};
                    },
                    2, "source I/O error (UnexpectedEof): short storage descriptor"},
        RefusalCase{
            "ShortLength",
            [](SimulatedPlatform& p) {
              p.disk(2)->answers[RecordedControl::Length] = bytes_answer({1, 2, 3, 4, 5, 6, 7});
            },
            2, "source I/O error (UnexpectedEof): short IOCTL output: GET_LENGTH_INFORMATION"},
        RefusalCase{"NegativeLength", [](SimulatedPlatform& p) { p.disk(2)->length = -512; }, 2,
                    "device capacity must be greater than zero"},
        RefusalCase{"ZeroLength", [](SimulatedPlatform& p) { p.disk(2)->length = 0; }, 2,
                    "device capacity must be greater than zero"},
        RefusalCase{"ShortGeometryAfterFailedAlignment",
                    [](SimulatedPlatform& p) {
                      p.disk(2)->answers[RecordedControl::Alignment] = error_answer(1);
                      p.disk(2)->answers[RecordedControl::Geometry] =
                          bytes_answer(std::vector<std::uint8_t>(23, 0));
                    },
                    2, "source I/O error (UnexpectedEof): short IOCTL output: DISK_GEOMETRY"},
        RefusalCase{"GeometryZeroSectorSize",
                    [](SimulatedPlatform& p) {
                      p.disk(2)->answers[RecordedControl::Alignment] = error_answer(1);
                      p.disk(2)->logical_sector_size = 0;
                    },
                    2, "logical sector size must be greater than zero"},
        RefusalCase{"GeometryFailsAfterAlignmentFails",
                    [](SimulatedPlatform& p) {
                      p.disk(2)->answers[RecordedControl::Alignment] = error_answer(1);
                      p.disk(2)->answers[RecordedControl::Geometry] =
                          error_answer(win32::kNotReady);
                    },
                    2, "device disconnected during read"},
        RefusalCase{"PermissionDeniedOnOpen",
                    [](SimulatedPlatform& p) { p.disk(2)->open_error = win32::kAccessDenied; }, 2,
                    "permission denied while reading source"},
        RefusalCase{"NoSuchDrive", [](auto&) {}, 7,
                    "source I/O error (NotFound): The system cannot find the file specified. (os "
                    "error 2)"},
        RefusalCase{
            "LengthQueryMediaChanged",
            [](SimulatedPlatform& p) {
              p.disk(2)->answers[RecordedControl::Length] = error_answer(win32::kMediaChanged);
            },
            2,
            "source I/O error (Uncategorized): The media in the drive may have changed. (os "
            "error 1110)"}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

struct SectorSizeCase {
  const char* name;
  std::function<void(SimulatedDisk&)> change;
  std::uint32_t logical;
  std::optional<std::uint32_t> physical;
  bool geometry_asked;
};

class SectorSizes : public ::testing::TestWithParam<SectorSizeCase> {};

TEST_P(SectorSizes, ComeFromTheAlignmentDescriptorOrTheGeometry) {
  auto platform = machine();
  SimulatedDisk& card = *platform.disk(2);
  card.logical_sector_size = 4096;
  card.physical_sector_size = 8192;
  GetParam().change(card);
  auto info = describe_physical_drive(platform, 2);
  ASSERT_TRUE(info) << info.error().message();
  EXPECT_EQ(info->logical_sector_size, GetParam().logical);
  EXPECT_EQ(info->physical_sector_size, GetParam().physical);
  EXPECT_EQ(platform.log_of("control geometry").size(), GetParam().geometry_asked ? 1u : 0u);
}

std::vector<std::uint8_t> alignment_bytes(std::uint32_t logical, std::uint32_t physical) {
  return encode_alignment_descriptor(logical, physical);
}

INSTANTIATE_TEST_SUITE_P(
    DescribeDevice, SectorSizes,
    ::testing::Values(SectorSizeCase{"Alignment", [](SimulatedDisk&) {}, 4096, 8192, false},
                      SectorSizeCase{"AlignmentWithoutPhysical",
                                     [](SimulatedDisk& d) {
                                       d.answers[RecordedControl::Alignment] =
                                           bytes_answer(alignment_bytes(4096, 0));
                                     },
                                     4096, std::nullopt, false},
                      SectorSizeCase{"AlignmentFails",
                                     [](SimulatedDisk& d) {
                                       d.answers[RecordedControl::Alignment] = error_answer(1);
                                     },
                                     4096, std::nullopt, true},
                      SectorSizeCase{"AlignmentLogicalZero",
                                     [](SimulatedDisk& d) {
                                       d.answers[RecordedControl::Alignment] =
                                           bytes_answer(alignment_bytes(0, 4096));
                                     },
                                     4096, std::nullopt, true},
                      SectorSizeCase{"AlignmentShort",
                                     [](SimulatedDisk& d) {
                                       auto bytes = alignment_bytes(512, 4096);
                                       bytes.resize(27);
                                       d.answers[RecordedControl::Alignment] = bytes_answer(bytes);
                                     },
                                     4096, std::nullopt, true},
                      SectorSizeCase{"AlignmentClaimsMoreThanItFilled",
                                     [](SimulatedDisk& d) {
                                       d.answers[RecordedControl::Alignment] = RecordedAnswer{
                                           std::nullopt, {}, 28};  // buffer stays cleared
                                     },
                                     4096, std::nullopt, true}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(DescriptorSize, BoundsAreInclusive) {
  for (std::uint32_t size : {36u, 1'048'576u}) {
    auto platform = machine();
    std::vector<std::uint8_t> descriptor =
        encode_storage_device_descriptor(platform.disk(2)->facts);
    descriptor.resize(size, 0);
    for (int i = 0; i < 4; ++i) descriptor[4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    platform.disk(2)->answers[RecordedControl::DescriptorHeader] = bytes_answer(descriptor);
    platform.disk(2)->answers[RecordedControl::Descriptor] = bytes_answer(descriptor);
    auto info = describe_physical_drive(platform, 2);
    ASSERT_TRUE(info) << size << ": " << info.error().message();
    // A 36-byte descriptor cannot hold the texts its offsets point at.
    EXPECT_EQ(info->vendor_id.has_value(), size > 36) << size;
  }
}

struct DescriptorStringCase {
  const char* name;
  std::vector<std::uint8_t> descriptor;
  std::uint32_t offset;
  std::optional<std::string> expected;
};

class DescriptorStrings : public ::testing::TestWithParam<DescriptorStringCase> {};

// The text a description takes from a descriptor: read to the first zero or
// the end by the Windows parsing, then cleaned by the rules.
TEST_P(DescriptorStrings, ParseToTheFirstZeroOrTheEnd) {
  EXPECT_EQ(reported_text(descriptor_text(GetParam().descriptor, GetParam().offset)),
            GetParam().expected);
}

std::vector<std::uint8_t> with_text(std::string_view text) {
  std::vector<std::uint8_t> bytes(36, 0);
  for (char c : text) bytes.push_back(static_cast<std::uint8_t>(c));
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    DescribeDevice, DescriptorStrings,
    ::testing::Values(
        DescriptorStringCase{"OffsetZero", with_text("Vendor"), 0, std::nullopt},
        DescriptorStringCase{"OffsetAtSize", with_text("Vendor"), 42, std::nullopt},
        DescriptorStringCase{"OffsetPastSize", with_text("Vendor"), 4000, std::nullopt},
        DescriptorStringCase{"RunsToTheEnd", with_text("Vendor"), 36, "Vendor"},
        DescriptorStringCase{"StopsAtZero", with_text(std::string("Ven\0dor", 7)), 36, "Ven"},
        DescriptorStringCase{"Trimmed", with_text("  SanDisk \t"), 36, "SanDisk"},
        DescriptorStringCase{"OnlySpaces", with_text("        "), 36, std::nullopt},
        DescriptorStringCase{"Empty", with_text(std::string("\0x", 2)), 36, std::nullopt},
        DescriptorStringCase{"InvalidUtf8",
                             with_text("A\xFF"
                                       "B"),
                             36,
                             "A\xEF\xBF\xBD"
                             "B"},
        DescriptorStringCase{"MidText", with_text("abcdef"), 39, "def"}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(SystemDiskStatus, FollowsTheSystemDirectory) {
  struct Case {
    std::optional<std::string> directory;  // nothing: the system does not say
    SystemDiskStatus drive0;
    SystemDiskStatus drive2;
  };
  const std::vector<Case> cases = {
      {"C:\\Windows", SystemDiskStatus::ConfirmedSystem, SystemDiskStatus::ConfirmedNonSystem},
      {"c:\\Windows", SystemDiskStatus::ConfirmedSystem, SystemDiskStatus::ConfirmedNonSystem},
      {"E:\\Windows", SystemDiskStatus::ConfirmedNonSystem, SystemDiskStatus::ConfirmedSystem},
      // A letter without a volume behind it, a directory without a letter, no answer.
      {"Q:\\Windows", SystemDiskStatus::Unknown, SystemDiskStatus::Unknown},
      {"\\\\server\\share\\Windows", SystemDiskStatus::Unknown, SystemDiskStatus::Unknown},
      {"1:\\Windows", SystemDiskStatus::Unknown, SystemDiskStatus::Unknown},
      {"C", SystemDiskStatus::Unknown, SystemDiskStatus::Unknown},
      {std::nullopt, SystemDiskStatus::Unknown, SystemDiskStatus::Unknown},
  };
  for (const auto& c : cases) {
    auto platform = machine();
    platform.system_directory_text = c.directory;
    // A platform that could place a directory without a letter on a disk
    // (Windows can, for a volume GUID path) is not asked: on a lettered
    // system such a directory leaves the system disk unknown.
    if (c.directory) platform.drives_holding[*c.directory] = {0};
    EXPECT_EQ(query_system_disk_status(platform, 0), c.drive0);
    EXPECT_EQ(query_system_disk_status(platform, 2), c.drive2);
    expect_handles_balanced(platform);
  }
}

TEST(SystemDiskStatus, DirectoryWithoutLetterIsAnsweredByTheDisksHoldingIt) {
  auto platform = machine();
  platform.system_directory_text = "/";
  // Nothing known about "/": unknown, fail-closed.
  EXPECT_EQ(query_system_disk_status(platform, 2), SystemDiskStatus::Unknown);
  // The root on a mirror of drives 0 and 5 (and the mapping drive 9 above them).
  platform.drives_holding["/"] = {9, 0, 5};
  EXPECT_EQ(query_system_disk_status(platform, 0), SystemDiskStatus::ConfirmedSystem);
  EXPECT_EQ(query_system_disk_status(platform, 5), SystemDiskStatus::ConfirmedSystem);
  EXPECT_EQ(query_system_disk_status(platform, 2), SystemDiskStatus::ConfirmedNonSystem);
  platform.drives_holding_error = win32::kAccessDenied;
  EXPECT_EQ(query_system_disk_status(platform, 2), SystemDiskStatus::Unknown);
}

TEST(SystemDiskStatus, WindowsDirectoryWithoutLetterRefusesEveryDevice) {
  auto platform = machine();
  platform.system_directory_text = "\\\\?\\Volume{0b1c}\\Windows";
  platform.drives_holding["\\\\?\\Volume{0b1c}\\Windows"] = {0};
  auto drive = describe_physical_drive(platform, 2);
  ASSERT_FALSE(drive);
  EXPECT_EQ(drive.error().message(), "system disk state is unknown; fail-closed");
  EXPECT_TRUE(platform.log_of("open \\\\.\\PhysicalDrive").empty());  // never opened
  auto volume = describe_volume(platform, U'E');
  ASSERT_FALSE(volume);
  EXPECT_EQ(volume.error().message(), "system disk state is unknown; fail-closed");
  // describe_device itself still answers, with the unknown status.
  auto handle = platform.open(DevicePath::physical_drive(2), DeviceAccess::Read);
  ASSERT_TRUE(handle);
  auto info = describe_device(platform, *handle, 2);
  platform.close(*handle);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->system_disk_status, SystemDiskStatus::Unknown);
  EXPECT_FALSE(check_readable(*info));
  expect_handles_balanced(platform);
}

TEST(DeviceNumber, ShortOrUnavailableAnswers) {
  auto platform = machine();
  platform.volume('E')->answers[RecordedControl::DeviceNumber] =
      bytes_answer(std::vector<std::uint8_t>(11, 0));
  auto number = volume_device_number(platform, U'E');
  ASSERT_FALSE(number);
  EXPECT_EQ(number.error().message(),
            "source I/O error (UnexpectedEof): short IOCTL output: STORAGE_DEVICE_NUMBER");

  platform.volume('E')->answers[RecordedControl::DeviceNumber] =
      bytes_answer(encode_device_number(0xFFFFFFFF, 0));
  number = volume_device_number(platform, U'e');
  ASSERT_FALSE(number);
  EXPECT_EQ(number.error().message(),
            "source I/O error (InvalidData): storage device number is unavailable for this device "
            "path");

  platform.volume('E')->answers.clear();
  EXPECT_EQ(volume_device_number(platform, U'e'), 2u);
  expect_handles_balanced(platform);
}

TEST(DriveLetter, OnlyAsciiLettersUpperCased) {
  EXPECT_EQ(normalise_drive_letter(U'e'), 'E');
  EXPECT_EQ(normalise_drive_letter(U'Z'), 'Z');
  for (char32_t bad : {U'1', U':', U'é', U'Ｅ', U'@', U'['}) {
    auto letter = normalise_drive_letter(bad);
    ASSERT_FALSE(letter);
    EXPECT_EQ(letter.error().message(),
              "source I/O error (InvalidInput): drive letter must be ASCII alphabetic");
  }
}

TEST(DescribeVolume, SessionOnlyIdentityWithoutSerial) {
  auto platform = machine();
  platform.disk(2)->facts.serial = "   ";
  auto info = describe_volume(platform, U'E');
  ASSERT_TRUE(info);
  EXPECT_EQ(info->serial_number, std::nullopt);
  EXPECT_EQ(info->stable_id, "session:usb:example:card-reader:physical-drive-2");
  EXPECT_EQ(info->identity_stability, IdentityStability::SessionOnly);
}

}  // namespace
}  // namespace kestrel::testing
