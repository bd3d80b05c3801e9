// --timestamps end to end on the dates fixtures (tests/fixtures/dates, made by
// scripts/fixtures/make-dates-fixtures.py with mtools and the FUSE exFAT
// driver): the scan shows each deleted file's dates as the script set them,
// and recovered files carry them, a local time read in the tool's zone and an
// exFAT time by its own offset.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "recovery-core/json/json_layout.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/run_cli.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

struct DatesFixture {
  std::string name;  // "dates-fat16"
  bool local_time;   // dates without a zone: read in the tool's time zone
};

void PrintTo(const DatesFixture& c, std::ostream* os) { *os << c.name; }

JsonValue read_truth(const std::string& name) {
  std::ifstream in(std::filesystem::path(KESTREL_FIXTURE_DIR) / "dates" / (name + ".truth.json"));
  return JsonValue::parse(in);
}

// The candidates of the scan, by name.
std::map<std::string, JsonValue> candidates_by_name(const std::string& scan_output) {
  std::map<std::string, JsonValue> candidates;
  const JsonValue document = JsonValue::parse(scan_output);
  for (const JsonValue& report : document.at("filesystems"))
    for (const JsonValue& candidate : report.at("candidates"))
      candidates.emplace(candidate.at("name").get<std::string>(), candidate);
  return candidates;
}

std::int64_t modified_seconds(const std::filesystem::path& path) {
  const auto written = std::filesystem::last_write_time(path);
  const auto system = std::chrono::file_clock::to_sys(written);
  return std::chrono::floor<std::chrono::seconds>(system.time_since_epoch()).count();
}

class DatesE2e : public ::testing::TestWithParam<DatesFixture> {
 protected:
  void SetUp() override {
    truth_ = read_truth(GetParam().name);
    image_ = unpack_fixture("dates/" + GetParam().name + ".img", dir_ / "image.img");
  }

  TempDir dir_;
  JsonValue truth_;
  std::filesystem::path image_;
};

TEST_P(DatesE2e, ScanShowsTheDatesTheToolsWrote) {
  const CliRun run = run_cli({"scan", "--image", image_.string(), "--timestamps"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const auto candidates = candidates_by_name(run.out);
  EXPECT_EQ(candidates.size(), truth_.at("files").size());  // the live file is not one
  for (const JsonValue& file : truth_.at("files")) {
    const std::string name = file.at("shown_name").get<std::string>();
    ASSERT_TRUE(candidates.contains(name)) << name << "\n" << run.out;
    const JsonValue& candidate = candidates.at(name);
    EXPECT_EQ(candidate.at("size"), file.at("size")) << name;
    EXPECT_EQ(candidate.at("modified"), file.at("modified")) << name;
    EXPECT_EQ(candidate.at("created"), file.at("created")) << name;
    EXPECT_EQ(candidate.at("accessed"), file.at("accessed")) << name;
    // The three come last, in this order.
    std::vector<std::string> keys;
    for (auto it = candidate.begin(); it != candidate.end(); ++it) keys.push_back(it.key());
    ASSERT_GE(keys.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(keys.end() - 4, keys.end()),
              (std::vector<std::string>{"deleted", "modified", "created", "accessed"}))
        << name;
  }

  const CliRun with_folders =
      run_cli({"scan", "--image", image_.string(), "--timestamps", "--all-directories"});
  ASSERT_EQ(with_folders.exit_code, 0) << with_folders.err;
  for (const auto& [name, candidate] : candidates_by_name(with_folders.out)) {
    std::vector<std::string> keys;
    for (auto it = candidate.begin(); it != candidate.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(std::vector<std::string>(keys.end() - 4, keys.end()),
              (std::vector<std::string>{"directory", "modified", "created", "accessed"}))
        << name;
  }

  const CliRun plain = run_cli({"scan", "--image", image_.string()});
  ASSERT_EQ(plain.exit_code, 0) << plain.err;
  EXPECT_EQ(plain.out.find("\"modified\""), std::string::npos);
}

// The tool runs nine hours east of UTC (a POSIX zone both C libraries read):
// a FAT date, local with no zone, is that moment in Seoul, nine hours before
// the same reading in UTC; an exFAT date keeps its own +09:00 either way.
TEST_P(DatesE2e, RecoveredFilesCarryTheDates) {
  CliOptions options;
  options.environment = {{"TZ", "KST-9"}};
  const std::filesystem::path out = dir_ / "out";
  const CliRun run = run_cli({"recover-all", "--image", image_.string(), "--output-directory",
                              out.string(), "--timestamps"},
                             options);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const JsonValue document = JsonValue::parse(run.out);
  std::map<std::string, std::filesystem::path> written;
  for (const JsonValue& item : document.at("items")) {
    EXPECT_TRUE(item.at("timestamp_note").is_null()) << item.dump();
    written.emplace(item.at("candidate_name").get<std::string>(),
                    std::filesystem::path(item.at("output").get<std::string>()));
  }
  const std::int64_t zone_shift = GetParam().local_time ? 9 * 3600 : 0;
  for (const JsonValue& file : truth_.at("files")) {
    const std::string name = file.at("shown_name").get<std::string>();
    ASSERT_TRUE(written.contains(name)) << name;
    const std::filesystem::path& path = written.at(name);
    EXPECT_EQ(modified_seconds(path), file.at("mtime_utc").get<std::int64_t>() - zone_shift)
        << name;
#ifndef _WIN32
    struct stat status{};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_atim.tv_sec, file.at("atime_utc").get<std::int64_t>() - zone_shift) << name;
#endif
  }

  // Without the flag the files are dated by the recovery and the items keep
  // their members.
  const std::filesystem::path plain_out = dir_ / "plain";
  const CliRun plain = run_cli(
      {"recover-all", "--image", image_.string(), "--output-directory", plain_out.string()});
  ASSERT_EQ(plain.exit_code, 0) << plain.err;
  EXPECT_EQ(plain.out.find("timestamp_note"), std::string::npos);
  const JsonValue first = JsonValue::parse(plain.out).at("items").at(0);
  const auto now =
      std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  EXPECT_GT(modified_seconds(first.at("output").get<std::string>()), now - 3600);
}

TEST_P(DatesE2e, RecoverSetsTheOneFile) {
  const JsonValue& file = truth_.at("files").at(0);
  const CliRun scan = run_cli({"scan", "--image", image_.string()});
  ASSERT_EQ(scan.exit_code, 0) << scan.err;
  const auto candidates = candidates_by_name(scan.out);
  const std::string id =
      candidates.at(file.at("shown_name").get<std::string>()).at("id").get<std::string>();
  CliOptions options;
  options.environment = {{"TZ", "UTC0"}};
  const std::filesystem::path output = dir_ / "one.txt";
  const CliRun run = run_cli({"recover", "--image", image_.string(), "--id", id, "--output",
                              output.string(), "--timestamps"},
                             options);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out.find("TIMESTAMP_NOTE"), std::string::npos) << run.out;
  EXPECT_EQ(modified_seconds(output), file.at("mtime_utc").get<std::int64_t>());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DatesE2e,
                         ::testing::Values(DatesFixture{"dates-fat16", true},
                                           DatesFixture{"dates-exfat", false}),
                         [](const ::testing::TestParamInfo<DatesFixture>& param_info) {
                           std::string name = param_info.param.name;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

}  // namespace
}  // namespace kestrel::testing
