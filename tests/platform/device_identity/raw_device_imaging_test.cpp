// The imaging engine over the guarded raw reader and recorded devices: only a
// failed transfer is zero-filled; a failure of the description the reader
// makes before each read ends the run after the same immediate retries.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/device_identity/describe_device.hpp"
#include "platform/device_identity/raw_device_source.hpp"
#include "recovery-core/image/imaging_engine.hpp"
#include "tests/support/recorded_device_platform.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

constexpr std::int64_t kCardBytes = 6 << 20;

struct Bench {
  RecordedDevicePlatform platform;
  TempDir dir;
  std::filesystem::path image = dir / "card.img";
  std::filesystem::path checkpoint = dir / "card.img.partial.json";

  Bench() {
    RecordedDisk card = usb_card(2, kCardBytes);
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(kCardBytes);
    for (std::size_t i = 0; i < bytes->size(); ++i) (*bytes)[i] = static_cast<std::uint8_t>(i % 251 + 1);
    card.content = bytes;
    platform.disks.push_back(internal_disk(0, 11));
    platform.disks.push_back(card);
    platform.volumes.push_back(volume_on('C', 0));
  }

  std::expected<ImagingResult, RecoveryError> run() {
    auto expected = describe_physical_drive(platform, 2);
    EXPECT_TRUE(expected);
    auto opened = open_physical_drive(platform, *expected);
    EXPECT_TRUE(opened);
    auto source = RawDeviceSource::create(std::move(opened->handle), 2, *expected, 1'048'576, true);
    EXPECT_TRUE(source);
    ImagingEnvironment environment;
    environment.progress = [](std::string_view) {};
    environment.interrupted = [] { return false; };
    return create_image(*source, image, ImagingOptions{}, std::nullopt, checkpoint, environment);
  }

  // The disk as it answers after the first `reads` reads: the same card
  // whose description now fails with this answer.
  void describe_fails_after(std::uint64_t reads, RecordedControl control, RecordedAnswer answer) {
    RecordedDisk changed = *platform.disk(2);
    changed.answers[control] = std::move(answer);
    platform.events.push_back(replace_after(2, reads, changed));
  }
};

TEST(RawDeviceImaging, FailedTransferOfABadSectorIsZeroFilled) {
  Bench bench;
  bench.platform.read_faults.push_back(read_fault(2, 5'000'192, 512));
  auto result = bench.run();
  ASSERT_TRUE(result) << result.error().message();
  EXPECT_TRUE(result->complete);
  ASSERT_EQ(result->read_errors.size(), 1u);
  EXPECT_EQ(result->read_errors[0].offset, 5'000'192u);
  EXPECT_EQ(result->read_errors[0].length, 512u);
  EXPECT_EQ(result->read_errors[0].error,
            "source I/O error (Uncategorized): Data error (cyclic redundancy check). (os error 23)");
  EXPECT_EQ(bench.platform.open_handles(), 0u);
}

struct DescriptionFailure {
  const char* name;
  RecordedControl control;
  RecordedAnswer answer;
  std::string expected;
};

class DescriptionFailures : public ::testing::TestWithParam<DescriptionFailure> {};

TEST_P(DescriptionFailures, EndTheRunAfterTheRetriesWithoutZeroFilling) {
  Bench bench;
  bench.describe_fails_after(2, GetParam().control, GetParam().answer);
  auto result = bench.run();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().message(), GetParam().expected);
  // Two chunks were read; the third chunk's description failed on each of
  // its three attempts and nothing more reached the medium.
  EXPECT_EQ(bench.platform.log_of("read ").size(), 2u);
  const auto queries = bench.platform.log_of(GetParam().control == RecordedControl::Length
                                                 ? "control length"
                                                 : "control descriptor-header");
  EXPECT_EQ(queries.size(), 1u /* describe */ + 1u /* open */ + 1u /* create */ + 2u + 3u);
  // The image and its checkpoint describe the last good chunk: a later run resumes.
  EXPECT_EQ(std::filesystem::file_size(bench.image), 2u << 20);
  EXPECT_TRUE(std::filesystem::exists(bench.checkpoint));
  EXPECT_EQ(bench.platform.open_handles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    RawDeviceImaging, DescriptionFailures,
    ::testing::Values(
        DescriptionFailure{"MediaChanged", RecordedControl::Length,
                           RecordedAnswer{PlatformError{win32::kMediaChanged}, {}, {}},
                           "source I/O error (Uncategorized): The media in the drive may have "
                           "changed. (os error 1110)"},
        DescriptionFailure{"NoMedia", RecordedControl::Length,
                           RecordedAnswer{PlatformError{win32::kNoMediaInDrive}, {}, {}},
                           "source I/O error (Uncategorized): There is no media in the drive. (os "
                           "error 1112)"},
        DescriptionFailure{"ShortLengthOutput", RecordedControl::Length,
                           RecordedAnswer{std::nullopt, {1, 2, 3}, std::nullopt},
                           "source I/O error (UnexpectedEof): short IOCTL output: "
                           "GET_LENGTH_INFORMATION"},
        DescriptionFailure{"InvalidDescriptorSize", RecordedControl::DescriptorHeader,
                           RecordedAnswer{std::nullopt, {0, 0, 0, 0, 35, 0, 0, 0}, std::nullopt},
                           "source I/O error (InvalidData): invalid STORAGE_DEVICE_DESCRIPTOR "
                           "size: 35"}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(RawDeviceImaging, SwappedCardEndsTheRunAtOnce) {
  Bench bench;
  bench.platform.events.push_back(replace_after(2, 3, usb_card(2, kCardBytes - (1 << 20))));
  auto result = bench.run();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().message(), "device identity mismatch: capacity_bytes");
  EXPECT_EQ(bench.platform.log_of("read ").size(), 3u);
  EXPECT_EQ(std::filesystem::file_size(bench.image), 3u << 20);
}

}  // namespace
}  // namespace kestrel::testing
