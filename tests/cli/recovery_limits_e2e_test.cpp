// What a recovery may write, run through the binaries: a file cannot extend
// past its volume, the destination must have room for what will be written,
// and a name too long for the destination is shortened rather than lost.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "os/file_system.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/run_cli.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

namespace fs = std::filesystem;

template <typename T>
T field(const std::string& bytes, std::size_t offset) {
  T value{};
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

template <typename T>
void put_field(std::string& bytes, std::size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

// The exFAT entry-set checksum over `count` entries from `at`, skipping the
// checksum field of the first.
std::uint16_t set_checksum(const std::string& bytes, std::size_t at, std::size_t count) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < count * 32; ++i) {
    if (i == 2 || i == 3) continue;
    sum = static_cast<std::uint16_t>(((sum & 1) != 0 ? 0x8000 : 0) + (sum >> 1) +
                                     static_cast<std::uint8_t>(bytes[at + i]));
  }
  return sum;
}

// exfat-root.img (mkfs.exfat and the FUSE driver) with the deleted REPORT.PDF
// (12000 bytes from cluster 18, its truth file says) made to claim 2^62 bytes,
// the image then stretched to 4 TiB (sparse). Its volume stays as it was.
class HugeClaim : public ::testing::Test {
 protected:
  static constexpr std::uint64_t kClaim = std::uint64_t{1} << 62;
  static constexpr std::uint64_t kImageLength = std::uint64_t{4} << 40;

  void SetUp() override {
    std::string image =
        read_file(unpack_fixture("filesystems/exfat-root.img", dir_ / "unpacked.img"));
    const auto sector_shift = static_cast<std::uint8_t>(image[108]);
    const auto cluster_shift =
        static_cast<std::uint8_t>(sector_shift + static_cast<std::uint8_t>(image[109]));
    const std::uint64_t heap = std::uint64_t{field<std::uint32_t>(image, 88)} << sector_shift;
    heap_end_ = heap + (std::uint64_t{field<std::uint32_t>(image, 92)} << cluster_shift);
    report_offset_ = heap + (std::uint64_t{18 - 2} << cluster_shift);
    report_bytes_ = image.substr(report_offset_, 12000);

    std::size_t stream = 0;  // the deleted stream entry of cluster 18, 12000 bytes
    for (std::size_t at = 32; at + 32 <= image.size() && stream == 0; at += 32) {
      if (image[at] == 0x40 && field<std::uint32_t>(image, at + 20) == 18 &&
          field<std::uint64_t>(image, at + 24) == 12000) {
        stream = at;
      }
    }
    ASSERT_NE(stream, 0u);
    const std::size_t file = stream - 32;
    ASSERT_EQ(image[file], 0x05);
    put_field(image, stream + 8, kClaim);
    put_field(image, stream + 24, kClaim);
    put_field(image, file + 2,
              set_checksum(image, file, 1 + static_cast<std::uint8_t>(image[file + 1])));
    write_file(dir_ / "card.img", image);
    std::error_code error;
    fs::resize_file(dir_ / "card.img", kImageLength, error);
    // Wine on some host file systems cannot make the file; Linux always can.
    if (error) GTEST_SKIP() << "no 4 TiB sparse file here: " << error.message();

    const CliRun scan = run_cli({"scan", "--image", "card.img"}, in_dir());
    ASSERT_EQ(scan.exit_code, 0) << scan.err;
    const JsonValue document = JsonValue::parse(scan.out);
    for (const JsonValue& candidate : document.at("filesystems").at(0).at("candidates")) {
      if (candidate.at("name") == "REPORT.PDF") {
        EXPECT_EQ(candidate.at("size"), kClaim);
        id_ = candidate.at("id").get<std::string>();
      }
    }
    ASSERT_FALSE(id_.empty());
  }

  CliOptions in_dir() const {
    CliOptions options;
    options.working_directory = dir_.path();
    return options;
  }

  // The tool on a simulated machine whose destination volume has `free_space` bytes free.
  CliRun recover_with_free_space(std::uint64_t free_space, const std::string& output) const {
    write_file(dir_ / "platform.json", "{\"free_space\": " + std::to_string(free_space) + "}");
    CliOptions options = in_dir();
    options.executable = KESTREL_SIMULATED_CLI_PATH;
    options.environment = {{"KESTREL_SIMULATED_PLATFORM", (dir_ / "platform.json").string()}};
    return run_cli({"recover", "--image", "card.img", "--id", id_, "--output", output}, options);
  }

  TempDir dir_;
  std::string id_;
  std::uint64_t heap_end_ = 0;
  std::uint64_t report_offset_ = 0;
  std::string report_bytes_;
};

TEST_F(HugeClaim, ASmallDestinationRefusesWhatTheVolumeCouldHold) {
  const std::uint64_t required = heap_end_ - report_offset_;
  const CliRun run = recover_with_free_space(1 << 20, "report.pdf");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "KESTREL_ERROR=insufficient destination space: available=1048576 required=" +
                         std::to_string(required) + "\n");
  EXPECT_EQ(read_file(dir_ / "report.pdf"), "");
}

TEST_F(HugeClaim, ReadsStopAtTheEndOfTheVolumeNotOfTheImage) {
  const CliRun run = recover_with_free_space(std::uint64_t{1} << 40, "report.pdf");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.err, "KESTREL_ERROR=short read: expected=4096 actual=0\n");
  const std::string written = read_file(dir_ / "report.pdf");
  EXPECT_EQ(written.size(), heap_end_ - report_offset_);
  EXPECT_EQ(written.substr(0, 12000), report_bytes_);
}

// A deleted file named by 251 Hangul syllables and ".txt": 255 characters, 757
// bytes (scripts/fixtures/make-long-name-fixture.sh). Linux holds 255 bytes
// in a name, Windows 255 UTF-16 units.
TEST(LongName, TwoHundredFiftyFiveKoreanCharactersAreRecoveredUnderAShortenedName) {
  std::vector<std::string> syllables;
  for (char32_t i = 0; i < 251; ++i) {
    const char32_t c = 0xAC00 + i * 7;
    syllables.push_back({static_cast<char>(0xE0 | (c >> 12)),
                         static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                         static_cast<char>(0x80 | (c & 0x3F))});
  }
  auto name_of = [&](std::size_t count) {
    std::string name;
    for (std::size_t i = 0; i < count; ++i) name += syllables[i];
    return name + ".txt";
  };
#ifdef _WIN32
  const std::string expected_name = name_of(251);
#else
  const std::string expected_name = name_of(83);  // 249 bytes and ".txt"
#endif
  std::string content;
  for (int i = 0; i < 200; ++i) content += "kestrel long name ";

  TempDir dir;
  unpack_fixture("long-names/fat32-korean-255.img", dir / "card.img");
  CliOptions options;
  options.working_directory = dir.path();
  const CliRun run =
      run_cli({"recover-all", "--image", "card.img", "--output-directory", "out"}, options);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const JsonValue items = JsonValue::parse(run.out).at("items");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items.at(0).at("candidate_name"), name_of(251));
  EXPECT_EQ(path_display(path_from_text(items.at(0).at("output").get<std::string>()).filename()),
            expected_name);
  EXPECT_EQ(read_file(dir.path() / "out" / path_from_text(expected_name)), content);
}

}  // namespace
}  // namespace kestrel::testing
