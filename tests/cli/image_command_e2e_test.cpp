// The image command as a user runs it, on the simulated device platform
// (tests/support/simulated-platform/README.md): fresh images, interrupted and
// resumed runs, the resume refusals, and the destination checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "os/file_system.hpp"
#include "os/sha256.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "tests/support/run_cli.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

// 3 MiB and 8 sectors: the last chunk is shorter than a mebibyte.
constexpr std::uint64_t kCardBytes = (3 << 20) + 4096;

std::string card_bytes() {
  std::string bytes(kCardBytes, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>((i * 31 + i / 4096) & 0xFF);
  }
  return bytes;
}

std::string sha256_of(std::string_view bytes) {
  auto digest =
      sha256_hex(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  return digest ? *digest : "";
}

// A machine with its system on C: (SATA drive 0) and a USB card on drive 2,
// volume E:. Outputs go to a directory on the system disk.
class SimulatedMachine {
 public:
  SimulatedMachine() {
    write_file(dir_ / "card.bin", card_bytes());
    std::filesystem::create_directories(outputs());
    config_ = JsonValue::parse(R"({
      "system_directory": "C:\\Windows",
      "disks": [
        {"number": 0, "bus_type_code": 11, "length": 274877906944, "vendor": "Internal",
         "product": "Disk", "serial": "INT0", "removable": false},
        {"number": 2, "bus_type_code": 7, "length": 3149824, "vendor": "Example",
         "product": "Card Reader", "serial": "SN42", "content": "card.bin"}
      ],
      "volumes": [
        {"letter": "C", "disk": 0},
        {"letter": "E", "disk": 2, "label": "CARD", "file_system": "FAT32"}
      ],
      "faults": []
    })");
    config_["drives_holding"][dir_.path().string()] = {0};
#if defined(_WIN32)
    // Windows names a path's disk by its drive letter first. The letter of
    // the temporary directory becomes a data volume on an internal disk of its
    // own (9) and the system moves to W:, so that the disks recorded as
    // holding the outputs decide, as they do on Linux.
    const std::string letter = path_display(dir_.path()).substr(0, 1);
    config_["system_directory"] = "W:\\Windows";
    config_["disks"].push_back({{"number", 9},
                                {"bus_type_code", 11},
                                {"length", 274877906944},
                                {"vendor", "Internal"},
                                {"product", "Data"},
                                {"serial", "INT9"},
                                {"removable", false}});
    config_["volumes"][0]["letter"] = "W";
    config_["volumes"].push_back({{"letter", letter}, {"disk", 9}});
#endif
  }

  JsonValue& config() { return config_; }
  std::filesystem::path outputs() const { return dir_ / "out"; }
  std::filesystem::path image() const { return outputs() / "card.img"; }
  std::filesystem::path checkpoint() const { return outputs() / "card.img.partial.json"; }

  CliRun run(std::vector<std::string> arguments) {
    write_file(dir_ / "platform.json", config_.dump(2));
    CliOptions options;
    options.executable = KESTREL_SIMULATED_CLI_PATH;
    options.environment = {{"KESTREL_SIMULATED_PLATFORM", (dir_ / "platform.json").string()}};
    return run_cli(arguments, options);
  }

  CliRun image_drive(std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments = {"image", "--physical-drive", "2", "--output",
                                          image().string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return run(arguments);
  }

 private:
  TempDir dir_;
  JsonValue config_;
};

std::string result_document(std::uint64_t resumed_from, const std::string& sha256,
                            const std::string& read_errors = "[]") {
  return "{\n  \"source_capacity\": " + std::to_string(kCardBytes) +
         ",\n  \"bytes_written\": " + std::to_string(kCardBytes) +
         ",\n  \"resumed_from\": " + std::to_string(resumed_from) + ",\n  \"sha256\": \"" + sha256 +
         "\",\n  \"complete\": true,\n  \"read_errors\": " + read_errors + "\n}\n";
}

std::string progress(std::vector<std::uint64_t> positions) {
  std::string lines;
  for (auto p : positions)
    lines += "PROGRESS=" + std::to_string(p) + "/" + std::to_string(kCardBytes) + "\n";
  return lines;
}

TEST(ImageCommand, FreshImageOfAPhysicalDrive) {
  SimulatedMachine machine;
  const CliRun run = machine.image_drive();
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::string content = card_bytes();
  EXPECT_EQ(run.out, result_document(0, sha256_of(content)));
  EXPECT_EQ(run.err,
            progress({0, 0, 1 << 20, 1 << 20, 2 << 20, 2 << 20, 3 << 20, 3 << 20, kCardBytes}));
  EXPECT_EQ(read_file(machine.image()), content);
  EXPECT_FALSE(std::filesystem::exists(machine.checkpoint()));
}

TEST(ImageCommand, FreshImageOfAVolume) {
  SimulatedMachine machine;
  const CliRun run = machine.run({"image", "--volume", "e:", "--output", machine.image().string()});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, result_document(0, sha256_of(card_bytes())));
  EXPECT_EQ(read_file(machine.image()), card_bytes());
}

TEST(ImageCommand, InterruptedRunResumesWhenTheCommandIsRepeated) {
  SimulatedMachine machine;
  machine.config()["faults"].push_back({{"type", "disconnect"}, {"disk", 2}, {"after_reads", 2}});
  CliRun run = machine.image_drive();
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(run.err.ends_with("\nKESTREL_ERROR=device disconnected during read\n")) << run.err;
  EXPECT_EQ(std::filesystem::file_size(machine.image()), 2u << 20);
  EXPECT_TRUE(std::filesystem::exists(machine.checkpoint()));

  // Adding --no-resume is refused while the partial image is there.
  machine.config()["faults"] = JsonValue::array();
  run = machine.image_drive({"--no-resume"});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.err, "KESTREL_ERROR=destination already exists\n");
  EXPECT_EQ(std::filesystem::file_size(machine.image()), 2u << 20);

  // The card is back: the same command continues where the copy stopped.
  run = machine.image_drive();
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, result_document(2 << 20, sha256_of(card_bytes())));
  EXPECT_EQ(run.err, progress({2 << 20, 2 << 20, 3 << 20, 3 << 20, kCardBytes}));
  EXPECT_EQ(read_file(machine.image()), card_bytes());
  EXPECT_FALSE(std::filesystem::exists(machine.checkpoint()));
}

TEST(ImageCommand, RepeatingAFinishedRunIsRefused) {
  SimulatedMachine machine;
  ASSERT_EQ(machine.image_drive().exit_code, 0);
  CliRun run = machine.image_drive();
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "KESTREL_ERROR=partial image exists but its checkpoint is missing: " +
                         machine.checkpoint().string() + "\n");
  run = machine.image_drive({"--no-resume"});
  EXPECT_EQ(run.err, "KESTREL_ERROR=destination already exists\n");
  EXPECT_EQ(read_file(machine.image()), card_bytes());  // untouched
}

TEST(ImageCommand, NoResumeRefusesEvenAnEmptyOutputButStartsFreshWithout) {
  SimulatedMachine machine;
  write_file(machine.image(), "");
  CliRun run = machine.image_drive({"--no-resume"});
  EXPECT_EQ(run.err, "KESTREL_ERROR=destination already exists\n");
  std::filesystem::remove(machine.image());
  // A checkpoint left by an older run is not read and gets overwritten.
  write_file(machine.checkpoint(), "not a checkpoint");
  run = machine.image_drive({"--no-resume"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_FALSE(std::filesystem::exists(machine.checkpoint()));
}

TEST(ImageCommand, UnreadableCheckpointIsReported) {
  SimulatedMachine machine;
  write_file(machine.checkpoint(), "{\"schema\": \"1.0\"}");
  const CliRun run = machine.image_drive();
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_TRUE(run.err.starts_with("KESTREL_ERROR=invalid image checkpoint: missing field `"))
      << run.err;
}

TEST(ImageCommand, BadSectorsBecomeZeroFilledRanges) {
  SimulatedMachine machine;
  machine.config()["faults"].push_back(
      {{"type", "bad-sectors"}, {"disk", 2}, {"offset", 1000448}, {"length", 1024}});
  const CliRun run = machine.image_drive();
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::string expected = card_bytes();
  std::fill_n(expected.begin() + 1000448, 1024, '\0');
  EXPECT_EQ(read_file(machine.image()), expected);
  EXPECT_EQ(run.out,
            result_document(0, sha256_of(expected),
                            "[\n    {\n      \"offset\": 1000448,\n      \"length\": 1024,\n"
                            "      \"error\": \"source I/O error (Uncategorized): Data "
                            "error (cyclic redundancy check). (os error 23)\"\n    }\n  ]"));
}

struct RefusalCase {
  const char* name;
  std::function<void(SimulatedMachine&)> change;
  std::vector<std::string> source;
  std::string expected;
};

class ImageRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ImageRefusals, FailWithOneErrorLineAndWriteNothing) {
  SimulatedMachine machine;
  GetParam().change(machine);
  std::vector<std::string> arguments = {"image"};
  arguments.insert(arguments.end(), GetParam().source.begin(), GetParam().source.end());
  arguments.insert(arguments.end(), {"--output", machine.image().string()});
  const CliRun run = machine.run(arguments);
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "KESTREL_ERROR=" + GetParam().expected + "\n");
  EXPECT_FALSE(std::filesystem::exists(machine.image()));
  EXPECT_FALSE(std::filesystem::exists(machine.checkpoint()));
}

const std::vector<std::string> kDrive2 = {"--physical-drive", "2"};
const std::vector<std::string> kVolumeE = {"--volume", "E"};

INSTANTIATE_TEST_SUITE_P(
    ImageCommand, ImageRefusals,
    ::testing::Values(
        RefusalCase{"DestinationOnTheSourceDiskBeforeDescribing",
                    [](SimulatedMachine& m) {
                      m.config()["drives_holding"][m.outputs().string()] = {2};
                      // Describing the card would fail: the destination check came first.
                      m.config()["disks"][1]["open_error"] = 5;
                    },
                    kDrive2, "image destination is on the source physical disk"},
        RefusalCase{"VolumeDestinationOnItsDisk",
                    [](SimulatedMachine& m) {
                      m.config()["drives_holding"][m.outputs().string()] = {7, 2};
                    },
                    kVolumeE, "image destination is on the source physical disk"},
        RefusalCase{"InsufficientSpace",
                    [](SimulatedMachine& m) { m.config()["free_space"] = kCardBytes - 1; }, kDrive2,
                    "insufficient destination space: available=3149823 required=3149824"},
        RefusalCase{"FreeSpaceUnknown",
                    [](SimulatedMachine& m) { m.config()["free_space_error"] = 5; }, kDrive2,
                    "Access is denied. (os error 5)"},
        RefusalCase{
            "SystemDisk",
            [](SimulatedMachine& m) { m.config()["drives_holding"][m.outputs().string()] = {7}; },
            std::vector<std::string>{"--physical-drive", "0"}, "system disk is blocked"},
        RefusalCase{"SystemDiskHoldingTheOutput", [](SimulatedMachine&) {},
                    std::vector<std::string>{"--physical-drive", "0"},
                    "image destination is on the source physical disk"},
        RefusalCase{
            "SystemDiskUnknown",
            [](SimulatedMachine& m) { m.config()["system_directory"] = "\\\\server\\Windows"; },
            kDrive2, "system disk state is unknown; fail-closed"},
        RefusalCase{"SataDisk",
                    [](SimulatedMachine& m) { m.config()["disks"][1]["bus_type_code"] = 11; },
                    kVolumeE, "physical raw reading is not allowed for bus type: sata"},
        RefusalCase{"PermissionDenied",
                    [](SimulatedMachine& m) { m.config()["disks"][1]["open_error"] = 5; }, kDrive2,
                    "permission denied while reading source"},
        RefusalCase{"NoSuchDrive", [](SimulatedMachine&) {},
                    std::vector<std::string>{"--physical-drive", "5"},
                    "source I/O error (NotFound): The system cannot find the file specified. (os "
                    "error 2)"},
        RefusalCase{"NoSuchVolume", [](SimulatedMachine&) {},
                    std::vector<std::string>{"--volume", "Q"},
                    "source I/O error (NotFound): The system cannot find the file specified. (os "
                    "error 2)"}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(ImageCommand, RequiredSpaceCountsThePartialImage) {
  SimulatedMachine machine;
  machine.config()["faults"].push_back({{"type", "disconnect"}, {"disk", 2}, {"after_reads", 2}});
  ASSERT_EQ(machine.image_drive().exit_code, 2);
  machine.config()["faults"] = JsonValue::array();
  machine.config()["free_space"] = kCardBytes - (2 << 20) - 1;
  CliRun run = machine.image_drive();
  EXPECT_EQ(run.err,
            "KESTREL_ERROR=insufficient destination space: available=1052671 required=1052672\n");
  machine.config()["free_space"] = kCardBytes - (2 << 20);  // equality passes
  run = machine.image_drive();
  EXPECT_EQ(run.exit_code, 0) << run.err;
}

TEST(ImageCommand, CardSwappedMidRunEndsWithTheMismatch) {
  SimulatedMachine machine;
  JsonValue other = machine.config()["disks"][1];
  other["serial"] = "SN43";
  machine.config()["faults"].push_back(
      {{"type", "identity-change"}, {"disk", 2}, {"after_reads", 1}, {"disk_becomes", other}});
  const CliRun run = machine.image_drive();
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_TRUE(run.err.ends_with("KESTREL_ERROR=device identity mismatch: serial_number\n"))
      << run.err;
  EXPECT_EQ(std::filesystem::file_size(machine.image()), 1u << 20);
}

TEST(ImageCommand, MediaChangeWhileDescribingEndsTheRunInsteadOfZeroFilling) {
  SimulatedMachine machine;
  // After the first chunk the same card answers its length query with
  // "media changed": a generic error of the description, not of a transfer.
  JsonValue changed = machine.config()["disks"][1];
  changed["answers"] = {{{"control", "length"}, {"error", 1110}}};
  machine.config()["faults"].push_back(
      {{"type", "identity-change"}, {"disk", 2}, {"after_reads", 1}, {"disk_becomes", changed}});
  const CliRun run = machine.image_drive();
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(run.err.ends_with(
      "\nKESTREL_ERROR=source I/O error (Uncategorized): The media in the drive may have "
      "changed. (os error 1110)\n"))
      << run.err;
  EXPECT_EQ(std::filesystem::file_size(machine.image()), 1u << 20);
  EXPECT_TRUE(std::filesystem::exists(machine.checkpoint()));
  EXPECT_EQ(read_file(machine.checkpoint()).find("\"offset\""),
            std::string::npos);  // no zero range
}

}  // namespace
}  // namespace kestrel::testing
