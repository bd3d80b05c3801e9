// --carve --timestamps end to end on the card of carved files made by
// scripts/fixtures/make-carved-dates-fixture.py (ffmpeg, exiftool, ghostscript
// and pandoc, written with mtools and formatted over): each carved file shows
// the dates its content records, with the note that names where, and a
// recovered file takes its "modified".
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "recovery-core/content/content_dates/content_dates_messages.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/run_cli.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

JsonValue read_truth() {
  std::ifstream in(std::filesystem::path(KESTREL_FIXTURE_DIR) / "dates" /
                   "carved-dates.truth.json");
  return JsonValue::parse(in);
}

// The note a scan must end a dated file's notes with, by the truth's name of
// the date's source.
std::string note_for(const std::string& source) {
  const std::map<std::string, std::string_view> notes = {
      {"EXIF DateTimeOriginal", kExifDateTimeOriginalNote}, {"EXIF DateTime", kExifDateTimeNote},
      {"ISO media mvhd", kIsoMediaMovieHeaderNote},         {"PDF Info", kPdfInfoNote},
      {"docProps/core.xml", kOfficeCorePropertiesNote},     {"meta.xml", kOpenDocumentMetaNote},
  };
  return std::string(notes.at(source));
}

std::map<std::uint64_t, JsonValue> candidates_by_offset(const std::string& scan_output) {
  std::map<std::uint64_t, JsonValue> candidates;
  const JsonValue document = JsonValue::parse(scan_output);
  for (const JsonValue& report : document.at("filesystems"))
    for (const JsonValue& candidate : report.at("candidates"))
      candidates.emplace(candidate.at("data_offset").get<std::uint64_t>(), candidate);
  return candidates;
}

bool has_date_note(const JsonValue& candidate) {
  for (const JsonValue& note : candidate.at("validation_notes"))
    if (note.get<std::string>().starts_with("날짜는 파일 내용의")) return true;
  return false;
}

std::int64_t modified_seconds(const std::filesystem::path& path) {
  const auto system = std::chrono::file_clock::to_sys(std::filesystem::last_write_time(path));
  return std::chrono::floor<std::chrono::seconds>(system.time_since_epoch()).count();
}

class CarvedDatesE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    truth_ = read_truth();
    image_ = unpack_fixture("dates/carved-dates.img", dir_ / "image.img");
  }

  TempDir dir_;
  JsonValue truth_;
  std::filesystem::path image_;
};

TEST_F(CarvedDatesE2e, ScanShowsTheDatesTheContentRecords) {
  const CliRun run = run_cli({"scan", "--image", image_.string(), "--carve", "--timestamps"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const auto candidates = candidates_by_offset(run.out);
  EXPECT_EQ(candidates.size(), truth_.at("files").size()) << run.out;
  for (const JsonValue& file : truth_.at("files")) {
    const std::string name = file.at("name").get<std::string>();
    const auto found = candidates.find(file.at("offset").get<std::uint64_t>());
    ASSERT_NE(found, candidates.end()) << name << "\n" << run.out;
    const JsonValue& candidate = found->second;
    EXPECT_EQ(candidate.at("recoverability"), "carved") << name;
    EXPECT_EQ(candidate.at("size"), file.at("size")) << name;
    EXPECT_EQ(candidate.at("modified"), file.at("modified")) << name;
    EXPECT_EQ(candidate.at("created"), file.at("created")) << name;
    EXPECT_EQ(candidate.at("accessed"), file.at("accessed")) << name;
    const JsonValue& notes = candidate.at("validation_notes");
    if (file.at("date_source").is_null()) {
      EXPECT_FALSE(has_date_note(candidate)) << name;
    } else {
      EXPECT_EQ(notes.back(), note_for(file.at("date_source").get<std::string>())) << name;
    }
  }

  // Without the flag the carved files carry neither dates nor the note.
  const CliRun plain = run_cli({"scan", "--image", image_.string(), "--carve"});
  ASSERT_EQ(plain.exit_code, 0) << plain.err;
  EXPECT_EQ(plain.out.find("\"modified\""), std::string::npos);
  for (const auto& [offset, candidate] : candidates_by_offset(plain.out))
    EXPECT_FALSE(has_date_note(candidate)) << offset;
}

// Readings without a zone are local: the tool runs in UTC, where the truth
// counts them.
TEST_F(CarvedDatesE2e, RecoveredFilesTakeTheContentDate) {
  CliOptions options;
  options.environment = {{"TZ", "UTC0"}};
  const std::filesystem::path out = dir_ / "out";
  const CliRun run = run_cli({"recover-all", "--image", image_.string(), "--output-directory",
                              out.string(), "--carve", "--timestamps"},
                             options);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::map<std::string, std::filesystem::path> written;
  const JsonValue document = JsonValue::parse(run.out);
  for (const JsonValue& item : document.at("items")) {
    EXPECT_TRUE(item.at("timestamp_note").is_null()) << item.dump();
    written.emplace(item.at("candidate_id").get<std::string>(),
                    std::filesystem::path(item.at("output").get<std::string>()));
  }
  const auto now =
      std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  for (const JsonValue& file : truth_.at("files")) {
    const std::string id = "carved:1:" + std::to_string(file.at("offset").get<std::uint64_t>());
    ASSERT_TRUE(written.contains(id)) << id << "\n" << run.out;
    const std::int64_t mtime = modified_seconds(written.at(id));
    if (file.at("mtime_utc").is_null()) {
      EXPECT_GT(mtime, now - 3600) << id;  // dated by the recovery
    } else {
      EXPECT_EQ(mtime, file.at("mtime_utc").get<std::int64_t>()) << id;
    }
  }
}

}  // namespace
}  // namespace kestrel::testing
