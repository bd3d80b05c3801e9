// The devices command as a user runs it, on the simulated device platform.
#include <gtest/gtest.h>

#include "recovery-core/json/json_layout.hpp"
#include "tests/support/run_cli.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

CliRun run_devices(const std::string& platform_file_text) {
  TempDir dir;
  write_file(dir / "platform.json", platform_file_text);
  CliOptions options;
  options.executable = KESTREL_SIMULATED_CLI_PATH;
  options.environment = {{"KESTREL_SIMULATED_PLATFORM", (dir / "platform.json").string()}};
  return run_cli({"devices"}, options);
}

TEST(DevicesCommand, PrintsTheListingDocument) {
  const CliRun run = run_devices(R"({
    "disks": [
      {"number": 0, "bus_type_code": 11, "length": 274877906944, "serial": "S0"},
      {"number": 5, "bus_type_code": 12, "length": 31914983424, "vendor": "SD",
       "product": "SC32G", "serial": "0x1234abcd", "physical_sector_size": 0}
    ],
    "volumes": [
      {"letter": "C", "disk": 0, "label": "Windows", "file_system": "NTFS"},
      {"letter": "F", "disk": 5, "label": "카메라", "file_system": "exFAT"},
      {"letter": "G", "disk": 6}
    ]
  })");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "{\n"
            "  \"devices\": [\n"
            "    {\n"
            "      \"drive_letter\": \"F\",\n"
            "      \"volume_label\": \"카메라\",\n"
            "      \"file_system\": \"exFAT\",\n"
            "      \"physical_drive_number\": 5,\n"
            "      \"bus_type\": \"sd\",\n"
            "      \"vendor_id\": \"SD\",\n"
            "      \"product_id\": \"SC32G\",\n"
            "      \"serial_number\": \"0x1234abcd\",\n"
            "      \"capacity_bytes\": 31914983424,\n"
            "      \"logical_sector_size\": 512,\n"
            "      \"physical_sector_size\": null,\n"
            "      \"stable_id\": \"sd:sd:sc32g:0x1234abcd\",\n"
            "      \"identity_stability\": \"device-serial\",\n"
            "      \"system_disk_status\": \"confirmed-non-system\"\n"
            "    }\n"
            "  ],\n"
            "  \"warnings\": [\n"
            "    \"C: 검사 제외 · system disk is blocked\",\n"
            "    \"G: 검사 제외 · source I/O error (NotFound): The system cannot find the file "
            "specified. (os error 2)\"\n"
            "  ]\n"
            "}\n");
}

TEST(DevicesCommand, NoVolumesAtAll) {
  const CliRun run = run_devices("{}");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "{\n  \"devices\": [],\n  \"warnings\": []\n}\n");
}

TEST(DevicesCommand, DriveLettersUnreadableFailsTheCommand) {
  const CliRun run = run_devices(R"({"logical_drives_error": 5})");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(
      run.err,
      "KESTREL_ERROR=Windows 드라이브 목록을 읽지 못했습니다: Access is denied. (os error 5)\n");
}

}  // namespace
}  // namespace kestrel::testing
