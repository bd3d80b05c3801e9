// Looking candidates up by id and selecting them by a name prefix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/candidate_selection.hpp"
#include "cli/image_inspection.hpp"
#include "os/file_system.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

// An inspection of a blank image, given the reports of the test.
ImageInspection inspection_with(const TempDir& dir, const std::vector<std::vector<std::pair<std::string, std::string>>>& reports) {
  write_file(dir / "blank.img", std::string(4096, '\0'));
  auto inspection = inspect_image(path_display(dir / "blank.img"), 512);
  if (!inspection) throw std::runtime_error(inspection.error());
  inspection->filesystems.clear();
  std::uint32_t index = 1;
  for (const auto& candidates : reports) {
    FilesystemReport report;
    report.partition_index = index++;
    for (const auto& [id, name] : candidates) {
      RecoveryCandidate candidate;
      candidate.id = id;
      candidate.name = name;
      report.candidates.push_back(candidate);
    }
    inspection->filesystems.push_back(std::move(report));
  }
  return std::move(*inspection);
}

std::vector<std::string> ids(const std::vector<const RecoveryCandidate*>& selected) {
  std::vector<std::string> result;
  for (const RecoveryCandidate* c : selected) result.push_back(c->id);
  return result;
}

TEST(SelectCandidates, FullUnicodeUpperCasePrefixes) {
  TempDir dir;
  const ImageInspection inspection = inspection_with(
      dir, {{{"a", "IMG_0001.JPG"}, {"b", "img_0002.jpg"}, {"c", "DSC_0003.JPG"}},
            {{"d", "stra\xC3\x9F" "e.txt"}, {"e", "STRASSE.pdf"}, {"f", "\xC3\xA9t\xC3\xA9.txt"}, {"g", "Img"}}});
  struct Case {
    std::optional<std::string> prefix;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {std::nullopt, {"a", "b", "c", "d", "e", "f", "g"}},
      {"", {"a", "b", "c", "d", "e", "f", "g"}},
      {"img", {"a", "b", "g"}},
      {"IMG_", {"a", "b"}},
      {"strasse", {"d", "e"}},             // ß upper-cases to SS
      {"STRA\xC3\x9F", {"d", "e"}},
      {"\xC3\x89T\xC3\x89", {"f"}},        // É
      {"img_0001.jpg.", {}},
      {"x", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ids(select_candidates(inspection, c.prefix)), c.expected) << c.prefix.value_or("(none)");
  }
}

TEST(FindCandidate, FirstExactIdAcrossReports) {
  TempDir dir;
  const ImageInspection inspection =
      inspection_with(dir, {{{"fat32:1:100", "one"}}, {{"fat32:1:100", "duplicate"}, {"exfat:2:96", "two"}}});
  ASSERT_NE(find_candidate(inspection, "fat32:1:100"), nullptr);
  EXPECT_EQ(find_candidate(inspection, "fat32:1:100")->name, "one");
  EXPECT_EQ(find_candidate(inspection, "exfat:2:96")->name, "two");
  EXPECT_EQ(find_candidate(inspection, "EXFAT:2:96"), nullptr);
  EXPECT_EQ(find_candidate(inspection, "exfat:2:96 "), nullptr);
  EXPECT_EQ(find_candidate(inspection, "exfat:2:9"), nullptr);
}

}  // namespace
}  // namespace kestrel::testing
