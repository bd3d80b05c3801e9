#include "recovery-core/candidates/scan_report.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "recovery-core/json/json_layout.hpp"

namespace kestrel::testing {
namespace {

RecoveryCandidate photo_candidate() {
  RecoveryCandidate candidate;
  candidate.id = "fat32:1:1049600";
  candidate.partition_index = 1;
  candidate.file_system = FilesystemKind::Fat32;
  candidate.name = "Say \"cheese\" 사진.jpg";
  candidate.size = 10000;
  candidate.first_cluster = 100;
  candidate.data_offset = 1454080;
  candidate.cluster_size = 4096;
  candidate.recoverability = Recoverability::FatChain;
  candidate.detected_kind = FileKind::Jpeg;
  candidate.confidence = Confidence::High;
  candidate.confidence_score = 90;
  candidate.validation_notes = {"파일 시스템 클러스터 체인이 남아 있습니다.",
                                "확장자와 파일 내용 시그니처가 일치합니다."};
  candidate.deleted = true;
  candidate.layout = ClusterArea{16384,
                                 1048576,
                                 512,
                                 8,
                                 300,
                                 EntryWidth::Bits32,
                                 LinkRule::Bounded28,
                                 "FAT32 cluster outside data area"};
  return candidate;
}

std::string render(const JsonValue& value) {
  auto text = render_json(value);
  return text ? *text : "render failed: " + text.error().message();
}

TEST(ScanReportJson, CandidateKeysInOrderWithoutGeometry) {
  EXPECT_EQ(render(to_json(photo_candidate())),
            "{\n"
            "  \"id\": \"fat32:1:1049600\",\n"
            "  \"partition_index\": 1,\n"
            "  \"file_system\": \"fat32\",\n"
            "  \"name\": \"Say \\\"cheese\\\" 사진.jpg\",\n"
            "  \"size\": 10000,\n"
            "  \"first_cluster\": 100,\n"
            "  \"data_offset\": 1454080,\n"
            "  \"cluster_size\": 4096,\n"
            "  \"recoverability\": \"fat-chain\",\n"
            "  \"detected_kind\": \"jpeg\",\n"
            "  \"confidence\": \"high\",\n"
            "  \"confidence_score\": 90,\n"
            "  \"validation_notes\": [\n"
            "    \"파일 시스템 클러스터 체인이 남아 있습니다.\",\n"
            "    \"확장자와 파일 내용 시그니처가 일치합니다.\"\n"
            "  ],\n"
            "  \"deleted\": true\n"
            "}");

  RecoveryCandidate plain = photo_candidate();
  plain.file_system = FilesystemKind::Exfat;
  plain.recoverability = Recoverability::ContiguousLikely;
  plain.detected_kind.reset();
  plain.validation_notes.clear();
  plain.layout = ClusterArea{};
  plain.no_fat_chain = true;
  const JsonValue json = to_json(plain);
  EXPECT_EQ(json["file_system"], "exfat");
  EXPECT_EQ(json["recoverability"], "contiguous-likely");
  EXPECT_TRUE(json["detected_kind"].is_null());
  EXPECT_EQ(json["validation_notes"], JsonValue::array());
  EXPECT_EQ(json.size(), 14u);  // nothing of the geometry or the NoFatChain flag
}

TEST(ScanReportJson, DirectoryMemberComesLastOnlyWhenAskedFor) {
  struct Case {
    const char* label;
    std::optional<FolderPath> directory;
    DirectoryMember member;
    std::optional<std::string> expected_text;  // the last line before "}"; none: no member
  };
  const std::vector<Case> cases = {
      {"not asked for, folder known", FolderPath{"DCIM"}, DirectoryMember::Omitted, std::nullopt},
      {"the root", FolderPath{}, DirectoryMember::Written, "  \"directory\": \"/\""},
      {"below the root", FolderPath{"DCIM", "100CANON"}, DirectoryMember::Written,
       "  \"directory\": \"/DCIM/100CANON\""},
      {"no folder led to it", std::nullopt, DirectoryMember::Written, "  \"directory\": null"},
  };
  for (const Case& c : cases) {
    RecoveryCandidate candidate = photo_candidate();
    candidate.directory = c.directory;
    const std::string text = render(to_json(candidate, c.member));
    if (!c.expected_text) {
      EXPECT_EQ(text.find("directory"), std::string::npos) << c.label;
      continue;
    }
    EXPECT_TRUE(text.ends_with("  \"deleted\": true,\n" + *c.expected_text + "\n}"))
        << c.label << "\n"
        << text;
  }
  FilesystemReport report;
  report.candidates = {photo_candidate()};
  EXPECT_TRUE(to_json(report, DirectoryMember::Written)["candidates"][0].contains("directory"));
  EXPECT_FALSE(to_json(report)["candidates"][0].contains("directory"));
}

TEST(ScanReportJson, ReportsByKind) {
  FilesystemReport fat32;
  fat32.partition_index = 1;
  fat32.kind = FilesystemKind::Fat32;
  fat32.label = "CARD";
  fat32.warnings = {"first", "second"};
  EXPECT_EQ(render(to_json(fat32)),
            "{\n"
            "  \"partition_index\": 1,\n"
            "  \"kind\": \"fat32\",\n"
            "  \"label\": \"CARD\",\n"
            "  \"validation\": {\n"
            "    \"main_boot_checksum_valid\": null,\n"
            "    \"backup_boot_checksum_valid\": null,\n"
            "    \"using_backup_boot\": false\n"
            "  },\n"
            "  \"candidates\": [],\n"
            "  \"warnings\": [\n"
            "    \"first\",\n"
            "    \"second\"\n"
            "  ]\n"
            "}");

  FilesystemReport exfat;
  exfat.partition_index = 3;
  exfat.kind = FilesystemKind::Exfat;
  exfat.validation = BootValidation{false, true, true};
  exfat.candidates = {photo_candidate()};
  const JsonValue json = to_json(exfat);
  EXPECT_TRUE(json["label"].is_null());
  EXPECT_EQ(
      json["validation"].dump(),
      R"({"main_boot_checksum_valid":false,"backup_boot_checksum_valid":true,"using_backup_boot":true})");
  EXPECT_EQ(json["candidates"][0], to_json(photo_candidate()));
  EXPECT_EQ(json["warnings"], JsonValue::array());

  FilesystemReport unknown;
  unknown.kind = FilesystemKind::Unknown;
  EXPECT_EQ(to_json(unknown)["kind"], "unknown");
  EXPECT_EQ(recoverability_name(Recoverability::MetadataOnly), "metadata-only");
}

}  // namespace
}  // namespace kestrel::testing
