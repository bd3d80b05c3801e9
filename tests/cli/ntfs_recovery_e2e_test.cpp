// NTFS volumes made with mkntfs and written through the ntfs-3g driver (see
// scripts/fixtures/make-ntfs-fixtures.sh): every deleted file or stream whose
// record survived is listed under its name and folder, and recover-all and
// recover, run through the shipped binary, give back its bytes: resident,
// fragmented, sparse, compressed and stream data alike. Files whose clusters a
// later file took are listed, graded low, and their bytes differ; files whose
// record was reused are gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "os/file_system.hpp"
#include "os/sha256.hpp"
#include "recovery-core/extraction/extraction_messages.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/run_cli.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

std::string digest_of(const std::string& bytes) {
  auto digest = kestrel::sha256_hex(std::span<const std::uint8_t>(
      reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  if (!digest) throw std::runtime_error("SHA-256 failed: " + digest.error().message());
  return *digest;
}

JsonValue truth_of(const std::string& name) {
  std::ifstream in(std::filesystem::path(KESTREL_FIXTURE_DIR) / "ntfs" / (name + ".truth.json"));
  return JsonValue::parse(in);
}

// The notes the NTFS reader adds; the test holds them to their text.
constexpr const char* kDeletedFolderNote = "삭제된 폴더 안에 있던 파일입니다.";
// Clusters a live file holds now, or that a deleted file written as late claims.
constexpr const char* kReusedNote =
    "데이터 런이 가리키는 클러스터 일부를 지금은 다른 파일이 쓰고 있어 내용이 바뀌었을 수 "
    "있습니다.";
constexpr const char* kSharedNote =
    "삭제된 다른 파일의 데이터 런도 같은 클러스터를 가리키고 있어, 둘 중 나중에 쓰인 파일이 "
    "이 파일의 내용을 덮어썼을 수 있습니다.";

class NtfsFixture : public ::testing::TestWithParam<std::string> {};

TEST_P(NtfsFixture, DeletedFilesAreFoundInTheirFoldersAndGivenBack) {
  const JsonValue truth = truth_of(GetParam());
  const std::string sector_size = std::to_string(truth.at("sector_size").get<std::uint32_t>());
  TempDir dir;
  unpack_fixture("ntfs/" + GetParam() + ".img", dir / "disk.img");
  CliOptions in_dir;
  in_dir.working_directory = dir.path();
  auto command = [&](std::vector<std::string> arguments) {
    for (const char* more : {"--image", "disk.img", "--sector-size"}) arguments.emplace_back(more);
    arguments.push_back(sector_size);
    return run_cli(arguments, in_dir);
  };

  const CliRun plain = command({"scan"});
  const CliRun everywhere = command({"scan", "--all-directories"});
  ASSERT_EQ(plain.exit_code, 0) << plain.err;
  ASSERT_EQ(everywhere.exit_code, 0) << everywhere.err;
  std::map<std::string, JsonValue> by_place;  // "directory/name" -> candidate
  std::size_t plain_count = 0;
  const JsonValue plain_document = JsonValue::parse(plain.out);
  const JsonValue everywhere_document = JsonValue::parse(everywhere.out);
  for (const JsonValue& report : plain_document.at("filesystems")) {
    EXPECT_EQ(report.at("kind"), "ntfs");
    EXPECT_EQ(report.at("label"), truth.at("partitions").at(0).at("label"));
    // Only the volume whose first sector was destroyed is read from its backup.
    EXPECT_EQ(report.at("validation").at("using_backup_boot"), GetParam() == "ntfs-damaged-boot");
    for (const JsonValue& c : report.at("candidates")) {
      EXPECT_FALSE(c.contains("directory"));
      ++plain_count;
    }
  }
  for (const JsonValue& report : everywhere_document.at("filesystems")) {
    for (const JsonValue& c : report.at("candidates")) {
      by_place[c.at("directory").get<std::string>() + "|" + c.at("name").get<std::string>()] = c;
    }
  }
  EXPECT_EQ(plain_count, by_place.size());

  const CliRun batch = command({"recover-all", "--output-directory", "out", "--all-directories"});
  ASSERT_EQ(batch.exit_code, 0) << batch.err;
  std::map<std::string, std::string> written;
  const JsonValue batch_document = JsonValue::parse(batch.out);
  for (const JsonValue& item : batch_document.at("items")) {
    written[item.at("candidate_id")] = item.at("output");
  }

  std::size_t expected = 0;
  bool recovered_one = false;
  for (const JsonValue& file : truth.at("files")) {
    const std::string place =
        file.at("directory").get<std::string>() + "|" + file.at("name").get<std::string>();
    SCOPED_TRACE(place + " (" + file.at("expect").get<std::string>() + ")");
    const auto found = by_place.find(place);
    if (!file.at("deleted").get<bool>() || file.at("expect") == "not-found") {
      // A live file, or one whose record a later file took, is no candidate
      // (a later deleted file of the same name and folder is another record).
      if (found != by_place.end()) {
        EXPECT_NE(found->second.at("id"),
                  "ntfs:" + std::to_string(file.at("partition_index").get<int>()) + ":" +
                      std::to_string(file.at("mft_record").get<int>()));
      }
      continue;
    }
    ++expected;
    ASSERT_NE(found, by_place.end());
    const JsonValue& candidate = found->second;
    EXPECT_EQ(candidate.at("size"), file.at("size"));
    EXPECT_EQ(candidate.at("recoverability"),
              file.at("resident").get<bool>() ? "resident" : "data-runs");
    const std::vector<std::string> notes = candidate.at("validation_notes");
    EXPECT_EQ(std::ranges::count(notes, std::string(kDeletedFolderNote)),
              file.at("inside_deleted_folder").get<bool>() ? 1 : 0);
    const std::string id = candidate.at("id");
    const std::string bytes = read_file(path_from_text(written.at(id)));
    if (file.at("expect") == "exact") {
      EXPECT_EQ(digest_of(bytes), file.at("sha256"));
      if (!recovered_one) {
        const CliRun one = command({"recover", "--id", id, "--output", "one.bin"});
        ASSERT_EQ(one.exit_code, 0) << one.err;
        EXPECT_EQ(digest_of(read_file(dir / "one.bin")), file.at("sha256"));
        recovered_one = true;
      }
    } else {
      ASSERT_EQ(file.at("expect"), "found-content-differs");
      EXPECT_NE(digest_of(bytes), file.at("sha256"));
      EXPECT_EQ(std::ranges::count(notes, std::string(kReusedNote)) +
                    std::ranges::count(notes, std::string(kSharedNote)),
                1);
      EXPECT_EQ(candidate.at("confidence"), "low");
    }
  }
  EXPECT_EQ(by_place.size(), expected);
}

INSTANTIATE_TEST_SUITE_P(RealToolVolumes, NtfsFixture,
                         ::testing::Values("ntfs-basic", "ntfs-damaged-boot", "ntfs-compressed",
                                           "ntfs-4kn-4k-records", "disk-mbr-ntfs", "disk-gpt-ntfs",
                                           "ntfs-attribute-list"),
                         [](const ::testing::TestParamInfo<std::string>& param_info) {
                           std::string name = param_info.param;
                           std::ranges::replace(name, '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace kestrel::testing

namespace kestrel::testing {
namespace {

// ntfs-basic with records changed by hand, for what ntfs-3g cannot make:
// IMG_0001.JPG's $DATA (record 70, attribute at 352) marked encrypted; the
// deleted folder /Old trip (record 68) given a sequence number its children's
// references do not have, as if the record had been reused; and the modified
// time beside IMG_0003.JPG's name (record 72, $FILE_NAME value at 152) moved
// 2^44 ticks on, so that it differs from $STANDARD_INFORMATION's.
TEST(NtfsHandChangedRecords, EncryptedFilesReusedFoldersAndNameTimes) {
  TempDir dir;
  unpack_fixture("ntfs/ntfs-basic.img", dir / "disk.img");
  {
    std::fstream image(dir / "disk.img", std::ios::in | std::ios::out | std::ios::binary);
    image.seekp(16384 + 70 * 1024 + 352 + 13);
    image.put(static_cast<char>(0x40));
    image.seekp(16384 + 68 * 1024 + 16);
    image.put(static_cast<char>(7));
    const std::streamoff name_modified_byte5 = 16384 + 72 * 1024 + 152 + 16 + 5;
    image.seekg(name_modified_byte5);
    const int byte = image.get();
    image.seekp(name_modified_byte5);
    image.put(static_cast<char>(byte + 0x10));
  }
  CliOptions in_dir;
  in_dir.working_directory = dir.path();
  const CliRun scan =
      run_cli({"scan", "--image", "disk.img", "--all-directories", "--timestamps"}, in_dir);
  ASSERT_EQ(scan.exit_code, 0) << scan.err;
  const JsonValue document = JsonValue::parse(scan.out);
  std::map<std::string, JsonValue> by_name;
  for (const JsonValue& c : document.at("filesystems").at(0).at("candidates")) {
    by_name[c.at("name")] = c;
  }
  const JsonValue& encrypted = by_name.at("IMG_0001.JPG");
  EXPECT_EQ(encrypted.at("recoverability"), "metadata-only");
  EXPECT_EQ(
      encrypted.at("validation_notes"),
      JsonValue::parse(
          R"(["EFS로 암호화된 파일이라 키 없이는 내용을 되살릴 수 없어 복구하지 않습니다."])"));
  const CliRun refused =
      run_cli({"recover", "--image", "disk.img", "--id", "ntfs:1:70", "--output", "x.jpg"}, in_dir);
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_EQ(refused.err,
            "KESTREL_ERROR=unsupported: " + std::string(kMetadataOnlyCandidate) + "\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "x.jpg"));

  for (const char* name : {"beach.jpg", "sunset.jpg", "map.txt"}) {
    SCOPED_TRACE(name);
    const JsonValue& lost = by_name.at(name);
    EXPECT_TRUE(lost.at("directory").is_null());
    const std::vector<std::string> notes = lost.at("validation_notes");
    EXPECT_EQ(notes.back(),
              "상위 폴더의 MFT 레코드가 다른 파일에 다시 쓰였거나 읽을 수 없어 폴더 경로를 알 수 "
              "없습니다.");
  }
  // Files outside that folder keep their paths.
  const JsonValue& photo = by_name.at("IMG_0003.JPG");
  EXPECT_EQ(photo.at("directory"), "/DCIM/100KESTR");
  // ntfs-3g wrote every time at the fixture clock, 2026-03-14T09:00:00Z.
  EXPECT_EQ(photo.at("modified"), "2026-03-14T09:00:00Z");
  EXPECT_EQ(photo.at("name_times"), JsonValue::parse(R"({"modified": "2026-04-03T17:40:18.6044416Z",
                                 "created": "2026-03-14T09:00:00Z",
                                 "accessed": "2026-03-14T09:00:00Z"})"));
  EXPECT_TRUE(by_name.at("IMG_0001.JPG").at("name_times").is_null());
}

// With IMG_0001.JPG's record wiped, its clusters (free in $Bitmap) are found
// by carving, numbered as the volume numbers them.
TEST(NtfsHandChangedRecords, FreeClustersAreCarved) {
  TempDir dir;
  unpack_fixture("ntfs/ntfs-basic.img", dir / "disk.img");
  {
    std::fstream image(dir / "disk.img", std::ios::in | std::ios::out | std::ios::binary);
    image.seekp(16384 + 70 * 1024);
    const std::string zeros(1024, '\0');
    image.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  }
  CliOptions in_dir;
  in_dir.working_directory = dir.path();
  const CliRun scan = run_cli({"scan", "--image", "disk.img", "--carve"}, in_dir);
  ASSERT_EQ(scan.exit_code, 0) << scan.err;
  const JsonValue document = JsonValue::parse(scan.out);
  std::vector<JsonValue> carved;
  for (const JsonValue& c : document.at("filesystems").at(0).at("candidates")) {
    if (c.at("recoverability") == "carved") carved.push_back(c);
  }
  ASSERT_EQ(carved.size(), 1u);
  EXPECT_EQ(carved[0].at("first_cluster"), 2560);
  EXPECT_EQ(carved[0].at("file_system"), "ntfs");
  const CliRun one = run_cli({"recover", "--image", "disk.img", "--carve", "--id",
                              carved[0].at("id"), "--output", "photo.jpg"},
                             in_dir);
  ASSERT_EQ(one.exit_code, 0) << one.err;
  std::string expected;
  const JsonValue truth = truth_of("ntfs-basic");
  for (const JsonValue& file : truth.at("files")) {
    if (file.at("name") == "IMG_0001.JPG") expected = file.at("sha256");
  }
  EXPECT_EQ(digest_of(read_file(dir / "photo.jpg")), expected);
}

}  // namespace
}  // namespace kestrel::testing
