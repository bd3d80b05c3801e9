// The scan command run as a user runs it: every failure of the inspection
// reaches the error line with its exact message, nothing on standard output;
// a result that cannot be delivered fails the run.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "os/os_error.hpp"
#include "recovery-core/errors/io_error.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/os_error_codes.hpp"
#include "tests/support/run_cli.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

std::string zeros(std::size_t length) { return std::string(length, '\0'); }

CliOptions in_dir(const std::filesystem::path& directory) {
  CliOptions options;
  options.working_directory = directory;
  return options;
}

// An MBR whose slot 1 is a protective GPT entry but whose LBA 1 holds no GPT.
std::string protective_mbr_without_gpt() {
  std::string image = zeros(64 * 1024);
  image[446 + 4] = static_cast<char>(0xEE);
  image[446 + 8] = 1;
  image[446 + 12] = 100;
  image[510] = 0x55;
  image[511] = static_cast<char>(0xAA);
  return image;
}

// A FAT32 boot sector whose volume claims 64 MiB, in a file of 1 MiB.
std::string truncated_fat32() {
  std::string image = zeros(1024 * 1024);
  auto put16 = [&](std::size_t at, unsigned v) {
    image[at] = static_cast<char>(v & 0xFF);
    image[at + 1] = static_cast<char>(v >> 8);
  };
  auto put32 = [&](std::size_t at, unsigned v) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put16(11, 512);
  image[13] = 8;
  put16(14, 32);
  image[16] = 2;
  put32(32, 131072);
  put32(36, 128);
  put32(44, 2);
  std::memcpy(&image[82], "FAT32   ", 8);
  return image;
}

struct FailureCase {
  const char* label;
  std::string image_bytes;  // empty: no file is created
  std::vector<std::string> extra_arguments;
  std::string expected_message;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.label; }

class ScanFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ScanFailures, EndWithOneErrorLineAndNoDocument) {
  const FailureCase& c = GetParam();
  TempDir dir;
  if (!c.image_bytes.empty()) write_file(dir / "card.img", c.image_bytes);
  std::vector<std::string> arguments = {"scan", "--image", "card.img"};
  arguments.insert(arguments.end(), c.extra_arguments.begin(), c.extra_arguments.end());
  const CliRun run = run_cli(arguments, in_dir(dir.path()));
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "KESTREL_ERROR=" + c.expected_message + "\n");
}

const std::string kSectorSizeMessage = "--sector-size must be a power of two and at least 512";

INSTANTIATE_TEST_SUITE_P(
    Scan, ScanFailures,
    ::testing::Values(
        // The sector size is checked before the image is touched: it need not exist.
        FailureCase{"sector size 256", "", {"--sector-size", "256"}, kSectorSizeMessage},
        FailureCase{"sector size 1000", "", {"--sector-size", "1000"}, kSectorSizeMessage},
        FailureCase{"sector size 0", "", {"--sector-size", "0"}, kSectorSizeMessage},
        FailureCase{
            "sector size 0 with an image", zeros(4096), {"--sector-size", "0"}, kSectorSizeMessage},
        FailureCase{"missing image",
                    "",
                    {},
                    "cannot inspect image card.img: " + os_error_text(kNoSuchFileCode)},
        FailureCase{
            "image shorter than a sector", zeros(100), {}, "short read: expected=512 actual=100"},
        FailureCase{"protective MBR without a GPT",
                    protective_mbr_without_gpt(),
                    {},
                    "invalid structure: missing GPT signature"},
        FailureCase{"4096-byte sectors on a short image",
                    zeros(3000),
                    {"--sector-size", "4096"},
                    "short read: expected=4096 actual=3000"},
        FailureCase{"FAT32 data area cut short",
                    truncated_fat32(),
                    {},
                    "byte range exceeds source: offset=147456 length=66961408 capacity=1048576"}),
    [](const ::testing::TestParamInfo<FailureCase>& param_info) {
      std::string name = param_info.param.label;
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

// A path can hold any character but the error stays one line: a caller reading
// the last line of standard error gets the tool's message, not a forged one.
TEST(ScanErrorLine, ControlCharactersInAPathCannotForgeALine) {
  TempDir dir;
  struct Case {
    std::string image;
    std::string shown;
  };
  for (const Case& c : {Case{"missing.img\nKESTREL_ERROR=spoofed message",
                             "missing.img\\nKESTREL_ERROR=spoofed message"},
                        Case{"\n", "\\n"}, Case{"a\\b\x01\x1f", "a\\b\\u0001\\u001f"}}) {
    const CliRun run = run_cli({"scan", "--image", c.image}, in_dir(dir.path()));
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.out, "");
    // The system's text differs by platform (Windows refuses such names as invalid).
    const std::string prefix = "KESTREL_ERROR=cannot inspect image " + c.shown + ": ";
    EXPECT_EQ(run.err.substr(0, prefix.size()), prefix);
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  }
}

TEST(ScanEmptyImage, IsRefusedBeforeAnythingIsRead) {
  TempDir dir;
  write_file(dir / "empty.img", "");
  const CliRun run = run_cli({"scan", "--image", "empty.img"}, in_dir(dir.path()));
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "KESTREL_ERROR=device capacity must be greater than zero\n");
}

TEST(ScanDocument, BlankImageIsOneUnknownPartition) {
  TempDir dir;
  write_file(dir / "blank.img", zeros(1024 * 1024 + 100));
  const CliRun run = run_cli({"scan", "--image", "./blank.img"}, in_dir(dir.path()));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out,
            "{\n"
            "  \"image\": \"./blank.img\",\n"
            "  \"capacity_bytes\": 1048676,\n"
            "  \"partition_table\": {\n"
            "    \"scheme\": \"super-floppy\",\n"
            "    \"logical_sector_size\": 512,\n"
            "    \"partitions\": [\n"
            "      {\n"
            "        \"index\": 1,\n"
            "        \"start_lba\": 0,\n"
            "        \"sector_count\": 2048,\n"
            "        \"type_code\": null,\n"
            "        \"type_guid\": null,\n"
            "        \"name\": null\n"
            "      }\n"
            "    ]\n"
            "  },\n"
            "  \"filesystems\": [\n"
            "    {\n"
            "      \"partition_index\": 1,\n"
            "      \"kind\": \"unknown\",\n"
            "      \"label\": null,\n"
            "      \"validation\": {\n"
            "        \"main_boot_checksum_valid\": null,\n"
            "        \"backup_boot_checksum_valid\": null,\n"
            "        \"using_backup_boot\": false\n"
            "      },\n"
            "      \"candidates\": [],\n"
            "      \"warnings\": [\n"
            "        \"FAT32/exFAT signature not found\"\n"
            "      ]\n"
            "    }\n"
            "  ]\n"
            "}\n");
}

TEST(ScanDocument, PartitionsStartingPastTheEndHaveNoReport) {
  TempDir dir;
  std::string image = zeros(64 * 1024);
  const auto slot = [&](int number, unsigned type, unsigned start, unsigned count) {
    const std::size_t at = 446 + 16 * (number - 1);
    image[at + 4] = static_cast<char>(type);
    for (int i = 0; i < 4; ++i) {
      image[at + 8 + i] = static_cast<char>((start >> (8 * i)) & 0xFF);
      image[at + 12 + i] = static_cast<char>((count >> (8 * i)) & 0xFF);
    }
  };
  slot(1, 0x0C, 1, 100);
  slot(2, 0x07, 100000, 100);
  image[510] = 0x55;
  image[511] = static_cast<char>(0xAA);
  write_file(dir / "two.img", image);
  const CliRun run = run_cli({"scan", "--image", "two.img"}, in_dir(dir.path()));
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.out.find("\"index\": 2"), std::string::npos);  // listed in the table
  EXPECT_NE(run.out.find("\"partition_index\": 1"), std::string::npos);
  EXPECT_EQ(run.out.find("\"partition_index\": 2"), std::string::npos);  // but not scanned
}

// A result that cannot reach standard output fails the run.
TEST(ScanDelivery, UnwritableStandardOutputFailsTheRun) {
  TempDir dir;
  write_file(dir / "blank.img", zeros(64 * 1024));
  struct Case {
    const char* label;
    CliOptions options;
    std::string expected_err;
  };
  CliOptions closed_pipe = in_dir(dir.path());
  closed_pipe.close_stdout = true;
  std::vector<Case> cases = {
      {"closed pipe", closed_pipe,
       "KESTREL_ERROR=cannot write the result to standard output: " +
           os_error_text(kBrokenPipeCode) + "\n"},
  };
#if !defined(_WIN32)
  // Only Linux has a device that is always full.
  CliOptions full_device = in_dir(dir.path());
  full_device.stdout_file = "/dev/full";
  cases.push_back({"full device", full_device,
                   "KESTREL_ERROR=cannot write the result to standard output: No space left on "
                   "device (os error 28)\n"});
#endif
  for (const Case& c : cases) {
    const CliRun run = run_cli({"scan", "--image", "blank.img"}, c.options);
    EXPECT_EQ(run.exit_code, 2) << c.label;
    EXPECT_EQ(run.err, c.expected_err) << c.label;
  }
}

// Boot structures of images made by real tools, damaged the way media get damaged.
class RealImageBoot : public ::testing::Test {
 protected:
  JsonValue scan_bytes(const std::string& bytes, const std::vector<std::string>& extra = {}) {
    write_file(dir_ / "card.img", bytes);
    std::vector<std::string> arguments = {"scan", "--image", "card.img"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    last_ = run_cli(arguments, in_dir(dir_.path()));
    return last_.exit_code == 0 ? JsonValue::parse(last_.out) : JsonValue();
  }
  static std::string fixture(std::string_view name) {
    const std::vector<std::uint8_t> bytes = load_fixture(name);
    return std::string(bytes.begin(), bytes.end());
  }
  TempDir dir_;
  CliRun last_;
};

TEST_F(RealImageBoot, ExfatSurvivesOneDamagedBootRegion) {
  const std::string image = fixture("filesystems/exfat-root.img");
  const JsonValue healthy = scan_bytes(image);
  ASSERT_EQ(last_.exit_code, 0) << last_.err;
  const JsonValue& report = healthy.at("filesystems").at(0);
  EXPECT_EQ(
      report.at("validation").dump(),
      R"({"main_boot_checksum_valid":true,"backup_boot_checksum_valid":true,"using_backup_boot":false})");
  EXPECT_EQ(report.at("warnings").size(), 2u);

  struct Case {
    const char* label;
    std::size_t offset;  // a byte of boot code in the main (0-11) or backup (12-23) region
    const char* validation;
    const char* warning;
  };
  const std::vector<Case> cases = {
      {"main region", 200,
       R"({"main_boot_checksum_valid":false,"backup_boot_checksum_valid":true,"using_backup_boot":true})",
       "exFAT main boot checksum is invalid; the validated backup boot region is used."},
      {"backup region", 12 * 512 + 200,
       R"({"main_boot_checksum_valid":true,"backup_boot_checksum_valid":false,"using_backup_boot":false})",
       "exFAT main boot checksum is valid; backup boot checksum is invalid."},
  };
  for (const Case& c : cases) {
    std::string damaged = image;
    damaged[c.offset] = static_cast<char>(damaged[c.offset] ^ 0x01);
    const JsonValue document = scan_bytes(damaged);
    ASSERT_EQ(last_.exit_code, 0) << c.label << ": " << last_.err;
    const JsonValue& damaged_report = document.at("filesystems").at(0);
    EXPECT_EQ(damaged_report.at("validation").dump(), c.validation) << c.label;
    EXPECT_EQ(damaged_report.at("warnings").size(), 3u) << c.label;
    EXPECT_EQ(damaged_report.at("warnings").at(0), c.warning) << c.label;
    EXPECT_EQ(damaged_report.at("candidates"), report.at("candidates")) << c.label;
  }

  std::string both = image;
  both[200] = static_cast<char>(both[200] ^ 0x01);
  both[12 * 512 + 200] = static_cast<char>(both[12 * 512 + 200] ^ 0x01);
  scan_bytes(both);
  EXPECT_EQ(last_.exit_code, 2);
  EXPECT_EQ(last_.err, "KESTREL_ERROR=checksum mismatch: exFAT main and backup boot regions\n");
}

std::uint32_t le(const std::string& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

TEST_F(RealImageBoot, TruncatedFat32FailsWithTheDataAreaRange) {
  const std::string image = fixture("filesystems/fat32-mixed.img");
  const std::uint32_t sector = le(image, 11, 2);
  const std::uint64_t data_start =
      le(image, 14, 2) + std::uint64_t{le(image, 16, 1)} * le(image, 36, 4);
  const std::uint64_t total = le(image, 19, 2) != 0 ? le(image, 19, 2) : le(image, 32, 4);
  const std::string cut = image.substr(0, image.size() / 2);
  scan_bytes(cut);
  EXPECT_EQ(last_.exit_code, 2);
  EXPECT_EQ(last_.out, "");
  EXPECT_EQ(last_.err, "KESTREL_ERROR=byte range exceeds source: offset=" +
                           std::to_string(data_start * sector) +
                           " length=" + std::to_string((total - data_start) * sector) +
                           " capacity=" + std::to_string(cut.size()) + "\n");
}

TEST_F(RealImageBoot, SectorSizeIsNotGuessed) {
  const std::string image = fixture("filesystems/disk-gpt-4kn-fat32.img");
  scan_bytes(image);
  EXPECT_EQ(last_.exit_code, 2);
  EXPECT_EQ(last_.err, "KESTREL_ERROR=invalid structure: missing GPT signature\n");
  const JsonValue document = scan_bytes(image, {"--sector-size", "4096"});
  ASSERT_EQ(last_.exit_code, 0) << last_.err;
  EXPECT_EQ(document.at("partition_table").at("logical_sector_size"), 4096);
  EXPECT_EQ(document.at("filesystems").at(0).at("kind"), "fat32");
}

// Candidates reach the document as the scan finds them; a scan that fails
// after some were found still prints nothing, and recover-all writes nothing.
// recover stops at its candidate, so damage after it does not matter.
TEST(ScanFailingLate, PrintsNothingAndRecoversNothing) {
  TempDir dir;
  std::vector<std::uint8_t> image = load_fixture("filesystems/exfat-root.img");
  // The fifth deleted file of the root (id exfat:1:800) gets a first cluster
  // far outside the heap: its stream extension follows its file entry.
  const std::size_t root = 4096 * 512 + (5 - 2) * 4096;
  const std::size_t first_cluster = root + 800 + 32 + 20;
  for (int i = 0; i < 4; ++i)
    image[first_cluster + i] = static_cast<std::uint8_t>(0x0FFFFFF0u >> (8 * i));
  write_file(dir / "card.img", std::string(image.begin(), image.end()));
  const std::string error = "KESTREL_ERROR=invalid structure: exFAT cluster outside heap\n";

  const CliRun scan = run_cli({"scan", "--image", "card.img"}, in_dir(dir.path()));
  EXPECT_EQ(scan.exit_code, 2);
  EXPECT_EQ(scan.out, "");
  EXPECT_EQ(scan.err, error);

  const CliRun batch = run_cli({"recover-all", "--image", "card.img", "--output-directory", "out"},
                               in_dir(dir.path()));
  EXPECT_EQ(batch.exit_code, 2);
  EXPECT_EQ(batch.out, "");
  EXPECT_EQ(batch.err, error);
  EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));

  const CliRun one =
      run_cli({"recover", "--image", "card.img", "--id", "exfat:1:288", "--output", "trip.jpg"},
              in_dir(dir.path()));
  EXPECT_EQ(one.exit_code, 0) << one.err;
  EXPECT_NE(one.out.find("CANDIDATE_ID=exfat:1:288\n"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::testing
