// --untangle on volumes written and deleted by real tools (mtools on FAT12,
// FAT16 and FAT32, the FUSE exFAT driver; see
// scripts/fixtures/make-untangle-fixtures.py): every interleaved deleted file
// the truth says the entries explain is listed with exactly the pieces its
// clusters make and given back byte-exact by recover-all and recover; files
// written at the same time, files whose start another file took and whole
// files keep the very candidate a scan without the option lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "os/file_system.hpp"
#include "os/sha256.hpp"
#include "recovery-core/chains/chain_messages.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/run_cli.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

std::string sha256_of(const std::string& bytes) {
  auto digest = kestrel::sha256_hex(std::span<const std::uint8_t>(
      reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  if (!digest) throw std::runtime_error("SHA-256 failed: " + digest.error().message());
  return *digest;
}

JsonValue read_json(const std::filesystem::path& path) {
  std::ifstream in(path);
  return JsonValue::parse(in);
}

// The candidates of a scan document by name (names are unique in these images).
std::map<std::string, JsonValue> by_name(const CliRun& scan) {
  EXPECT_EQ(scan.exit_code, 0) << scan.err;
  const JsonValue document = JsonValue::parse(scan.out);
  std::map<std::string, JsonValue> candidates;
  for (const JsonValue& report : document.at("filesystems")) {
    for (const JsonValue& candidate : report.at("candidates"))
      EXPECT_TRUE(candidates.emplace(candidate.at("name"), candidate).second);
  }
  return candidates;
}

// Candidate id -> the bytes recover-all wrote for it.
std::map<std::string, std::string> recovered(const CliRun& batch) {
  EXPECT_EQ(batch.exit_code, 0) << batch.err;
  std::map<std::string, std::string> bytes;
  const JsonValue document = JsonValue::parse(batch.out);
  EXPECT_EQ(document.at("failed_count"), 0);
  for (const JsonValue& item : document.at("items")) {
    const std::string output = item.at("output");
    // The absolute path the tool wrote to, as UTF-8 text (an extended-length path on Windows).
    bytes[item.at("candidate_id")] = read_file(path_from_text(output));
  }
  return bytes;
}

class Untangle : public ::testing::TestWithParam<std::string> {};

TEST_P(Untangle, InterleavedFilesComeBackFromTheirPieces) {
  const std::string name = GetParam();
  const JsonValue truth =
      read_json(std::filesystem::path(KESTREL_FIXTURE_DIR) / "untangle" / (name + ".truth.json"));
  TempDir dir;
  unpack_fixture("untangle/" + name + ".img", dir / "card.img");
  CliOptions in_dir;
  in_dir.working_directory = dir.path();

  const auto plain = by_name(run_cli({"scan", "--image", "card.img"}, in_dir));
  const auto untangled = by_name(run_cli({"scan", "--image", "card.img", "--untangle"}, in_dir));
  const auto bytes = recovered(run_cli(
      {"recover-all", "--image", "card.img", "--output-directory", "out", "--untangle"}, in_dir));
  EXPECT_EQ(untangled.size(), plain.size());

  std::size_t planned = 0;
  for (const JsonValue& file : truth.at("files")) {
    const std::string expect = file.at("expect");
    const std::string shown = file.at("name");
    SCOPED_TRACE(file.at("path").get<std::string>() + " (" + expect + ")");
    if (expect == "not-found") {
      if (file.at("deleted") == true) {
        EXPECT_FALSE(untangled.contains(shown));
      }
      continue;
    }
    ASSERT_TRUE(untangled.contains(shown));
    ASSERT_TRUE(plain.contains(shown));
    const JsonValue& candidate = untangled.at(shown);
    const JsonValue& before = plain.at(shown);
    EXPECT_FALSE(before.contains("pieces"));
    if (expect == "untangled") {
      ++planned;
      ASSERT_TRUE(candidate.contains("pieces"));
      EXPECT_EQ(candidate.at("pieces"), file.at("pieces"));
      EXPECT_EQ(candidate.at("validation_notes").at(0), std::string(kUntangledRunsNote));
      EXPECT_NE(candidate.at("confidence"), "high");
      EXPECT_EQ(sha256_of(bytes.at(candidate.at("id"))), file.at("sha256").get<std::string>());
      continue;
    }
    // Everything else is listed exactly as without the option.
    EXPECT_EQ(candidate, before);
    if (expect == "exact") {
      EXPECT_EQ(sha256_of(bytes.at(candidate.at("id"))), file.at("sha256").get<std::string>());
    }
  }
  EXPECT_EQ(planned, 3u);

  // recover with the option reads the same pieces.
  const JsonValue& x = untangled.at("N photo.jpg");
  const CliRun one = run_cli(
      {"recover", "--image", "card.img", "--id", x.at("id"), "--output", "n.jpg", "--untangle"},
      in_dir);
  ASSERT_EQ(one.exit_code, 0) << one.err;
  for (const JsonValue& file : truth.at("files")) {
    if (file.at("name") == "N photo.jpg") {
      EXPECT_EQ(sha256_of(read_file(dir / "n.jpg")), file.at("sha256").get<std::string>());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(RealTools, Untangle,
                         ::testing::Values("untangle-fat12", "untangle-fat16", "untangle-fat32",
                                           "untangle-exfat"),
                         [](const auto& fixture) {
                           std::string name = fixture.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace kestrel::testing
