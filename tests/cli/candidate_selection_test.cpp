// Looking candidates up by id and selecting them by a name prefix.
#include "cli/candidate_selection.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrel::testing {
namespace {

RecoveryCandidate candidate(std::string id, std::string name) {
  RecoveryCandidate c;
  c.id = std::move(id);
  c.name = std::move(name);
  return c;
}

TEST(NamePrefixFilter, FullUnicodeUpperCasePrefixes) {
  const std::vector<RecoveryCandidate> candidates = {candidate("a", "IMG_0001.JPG"),
                                                     candidate("b", "img_0002.jpg"),
                                                     candidate("c", "DSC_0003.JPG"),
                                                     candidate("d",
                                                               "stra\xC3\x9F"
                                                               "e.txt"),
                                                     candidate("e", "STRASSE.pdf"),
                                                     candidate("f", "\xC3\xA9t\xC3\xA9.txt"),
                                                     candidate("g", "Img")};
  struct Case {
    std::optional<std::string> prefix;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {std::nullopt, {"a", "b", "c", "d", "e", "f", "g"}},
      {"", {"a", "b", "c", "d", "e", "f", "g"}},
      {"img", {"a", "b", "g"}},
      {"IMG_", {"a", "b"}},
      {"strasse", {"d", "e"}},  // ß upper-cases to SS
      {"STRA\xC3\x9F", {"d", "e"}},
      {"\xC3\x89T\xC3\x89", {"f"}},  // É
      {"img_0001.jpg.", {}},
      {"x", {}},
  };
  for (const Case& c : cases) {
    const NamePrefixFilter filter(c.prefix);
    std::vector<std::string> selected;
    for (const RecoveryCandidate& each : candidates) {
      if (filter.selects(each)) selected.push_back(each.id);
    }
    EXPECT_EQ(selected, c.expected) << c.prefix.value_or("(none)");
  }
}

// The finder keeps the first exact match and stops the scan there; near
// misses (case, spaces, a shorter id) go by.
TEST(CandidateFinder, FirstExactIdStopsTheScan) {
  const std::vector<RecoveryCandidate> stream = {
      candidate("EXFAT:2:96", "case"), candidate("exfat:2:96 ", "space"),
      candidate("exfat:2:9", "short"), candidate("exfat:2:96", "two"),
      candidate("exfat:2:96", "duplicate")};
  CandidateFinder finder("exfat:2:96");
  std::vector<SinkReply> replies;
  for (const RecoveryCandidate& each : stream) {
    replies.push_back(finder.accept(each));
    if (replies.back() == SinkReply::Stop) break;
  }
  EXPECT_EQ(replies, (std::vector<SinkReply>{SinkReply::Continue, SinkReply::Continue,
                                             SinkReply::Continue, SinkReply::Stop}));
  ASSERT_TRUE(finder.found());
  EXPECT_EQ(finder.found()->name, "two");

  CandidateFinder missing("fat32:1:100");
  for (const RecoveryCandidate& each : stream) EXPECT_EQ(missing.accept(each), SinkReply::Continue);
  EXPECT_FALSE(missing.found());
}

}  // namespace
}  // namespace kestrel::testing
