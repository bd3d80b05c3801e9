// The exFAT root scan on volumes laid out by hand: which entry sets become
// candidates, names, ids, chains, sets that straddle clusters or run past the
// directory's end, failures, and clusters too large to hold.
#include "recovery-core/exfat/exfat_directory.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/crafted_volumes.hpp"
#include "tests/support/stopping_sink.hpp"

namespace kestrel::testing {
namespace {

RawEntry raw_type(std::uint8_t type) {
  RawEntry entry{};
  entry[0] = type;
  return entry;
}

std::expected<std::vector<RecoveryCandidate>, RecoveryError> scan(CraftedExfat& volume,
                                                                  std::uint32_t root = 2) {
  std::vector<RecoveryCandidate> candidates;
  CandidateCollector collector(candidates);
  if (auto walked = scan_exfat_root(volume.source(), volume.volume(), 1, root, collector);
      !walked) {
    return std::unexpected(walked.error());
  }
  return candidates;
}

std::vector<RecoveryCandidate> scan_ok(CraftedExfat& volume, std::uint32_t root = 2) {
  auto candidates = scan(volume, root);
  EXPECT_TRUE(candidates) << candidates.error().message();
  return candidates ? *candidates : std::vector<RecoveryCandidate>{};
}

std::vector<std::string> names(const std::vector<RecoveryCandidate>& candidates) {
  std::vector<std::string> result;
  for (const auto& c : candidates) result.push_back(c.name);
  return result;
}

TEST(ExfatRootScan, OnlyDeletedSetsBecomeCandidates) {
  CraftedExfat volume(64, 0);
  volume.chain({2});
  std::vector<RawEntry> entries = {raw_type(0x81), raw_type(0x82),
                                   raw_type(0x83)};  // bitmap, up-case, label
  for (const auto& e : exfat_file_set(true, u"live.txt", 10, 100)) entries.push_back(e);
  for (const auto& e : exfat_file_set(false, u"gone.jpg", 12, 700)) entries.push_back(e);
  volume.put_directory_entries({2}, 0, entries);
  volume.fill_cluster(12, "\xFF\xD8\xFF\xE0");

  const auto candidates = scan_ok(volume);
  ASSERT_EQ(candidates.size(), 1u);
  const RecoveryCandidate& c = candidates[0];
  EXPECT_EQ(c.id, "exfat:1:" + std::to_string(32 * 6));
  EXPECT_EQ(c.partition_index, 1u);
  EXPECT_EQ(c.file_system, FilesystemKind::Exfat);
  EXPECT_EQ(c.name, "gone.jpg");
  EXPECT_EQ(c.size, 700u);
  EXPECT_EQ(c.first_cluster, 12u);
  EXPECT_EQ(c.data_offset, volume.cluster_offset(12));
  EXPECT_EQ(c.cluster_size, 512u);
  EXPECT_EQ(c.recoverability, Recoverability::ContiguousLikely);
  EXPECT_EQ(c.detected_kind, FileKind::Jpeg);
  EXPECT_TRUE(c.deleted);
  EXPECT_EQ(std::get<ClusterArea>(c.layout), cluster_area(volume.volume()));
  EXPECT_FALSE(c.no_fat_chain);
}

TEST(ExfatRootScan, FirstSetAtEntryThreeHasIdNinetySix) {
  CraftedExfat volume(64, 0);
  volume.chain({2});
  std::vector<RawEntry> entries = {raw_type(0x81), raw_type(0x82), raw_type(0x83)};
  for (const auto& e : exfat_file_set(false, u"a.bin", 10, 10)) entries.push_back(e);
  volume.put_directory_entries({2}, 0, entries);
  const auto candidates = scan_ok(volume);
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].id, "exfat:1:96");
}

TEST(ExfatRootScan, Names) {
  struct Case {
    const char* label;
    std::vector<RawEntry> set;
    std::string expected;
  };
  const std::u16string twenty = u"twenty-characters.xy";
  std::vector<RawEntry> wiped = exfat_file_set(false, u"photo.jpg", 10, 10);
  wiped[2] = raw_type(0x00);  // the File Name entry was wiped
  std::vector<RawEntry> no_length = exfat_file_set(false, u"photo.jpg", 10, 10);
  no_length[1][3] = 0;  // NameLength 0
  std::vector<RawEntry> shorter = exfat_file_set(false, u"photo.jpg", 10, 10);
  shorter[1][3] = 5;
  std::vector<RawEntry> surrogate = exfat_file_set(false, u"ab\xD800z", 10, 10);
  std::vector<RawEntry> live_names = exfat_file_set(false, u"mixed.txt", 10, 10);
  live_names[2][0] = 0xC1;  // a File Name entry still marked in use is read all the same
  const std::vector<Case> cases = {
      {"one name entry", exfat_file_set(false, u"photo.jpg", 10, 10), "photo.jpg"},
      {"two name entries", exfat_file_set(false, twenty, 10, 10), "twenty-characters.xy"},
      {"name entries wiped", wiped, "_deleted"},
      {"name length zero", no_length, "_deleted"},
      {"name length shorter than the units", shorter, "photo"},
      {"unpaired surrogate", surrogate, "ab\xEF\xBF\xBDz"},
      {"File Name entry marked in use", live_names, "mixed.txt"},
      {"Korean", exfat_file_set(false, u"\uC0AC\uC9C4.png", 10, 10),
       "\xEC\x82\xAC\xEC\xA7\x84.png"},
  };
  for (const Case& c : cases) {
    CraftedExfat volume(64, 0);
    volume.chain({2});
    volume.put_directory_entries({2}, 0, c.set);
    const auto candidates = scan_ok(volume);
    ASSERT_EQ(candidates.size(), 1u) << c.label;
    EXPECT_EQ(candidates[0].name, c.expected) << c.label;
  }
}

TEST(ExfatRootScan, SetsThatAreSkipped) {
  struct Case {
    const char* label;
    std::vector<RawEntry> set;
  };
  std::vector<RawEntry> no_stream = exfat_file_set(false, u"a.bin", 10, 10);
  no_stream[1] = raw_type(0x41);
  const std::vector<Case> cases = {
      {"live", exfat_file_set(true, u"a.bin", 10, 10)},
      {"first cluster 0", exfat_file_set(false, u"a.bin", 0, 10)},
      {"first cluster 1", exfat_file_set(false, u"a.bin", 1, 10)},
      {"empty", exfat_file_set(false, u"a.bin", 10, 0)},
      {"no stream extension", no_stream},
  };
  for (const Case& c : cases) {
    CraftedExfat volume(64, 0);
    volume.chain({2});
    std::vector<RawEntry> entries = c.set;
    for (const auto& e : exfat_file_set(false, u"after.bin", 11, 10)) entries.push_back(e);
    volume.put_directory_entries({2}, 0, entries);
    EXPECT_EQ(names(scan_ok(volume)), std::vector<std::string>{"after.bin"}) << c.label;
  }
}

TEST(ExfatRootScan, EntriesInsideASetAreNotReadAsSets) {
  CraftedExfat volume(64, 0);
  volume.chain({2});
  // A live set whose secondary slots hold what looks like a deleted File entry set.
  std::vector<RawEntry> entries = {exfat_file_entry(true, 4),
                                   exfat_stream_entry(true, false, 1, 20, 10)};
  for (const auto& e : exfat_file_set(false, u"x", 21, 10)) entries.push_back(e);  // 3 entries
  for (const auto& e : exfat_file_set(false, u"real.bin", 22, 10)) entries.push_back(e);
  volume.put_directory_entries({2}, 0, entries);
  const auto candidates = scan_ok(volume);
  ASSERT_EQ(names(candidates), std::vector<std::string>{"real.bin"});
  EXPECT_EQ(candidates[0].id, "exfat:1:160");
}

TEST(ExfatRootScan, DeletedSubdirectoryIsACandidateAndNotEntered) {
  CraftedExfat volume(64, 0);
  volume.chain({2});
  volume.chain({9});
  std::vector<RawEntry> set = exfat_file_set(false, u"Folder", 9, 512);
  set[0][4] = 0x10;  // directory attribute
  volume.put_directory_entries({2}, 0, set);
  volume.put_directory_entries({9}, 0, exfat_file_set(false, u"inside.txt", 12, 10));
  EXPECT_EQ(names(scan_ok(volume)), std::vector<std::string>{"Folder"});
}

TEST(ExfatRootScan, ChainsAndNoFatChain) {
  struct Case {
    const char* label;
    bool no_fat_chain;
    std::vector<std::uint32_t> chain;
    Recoverability expected;
  };
  const std::vector<Case> cases = {
      {"chain kept", false, {5, 6, 7}, Recoverability::FatChain},
      {"fragmented chain kept", false, {5, 30, 7}, Recoverability::FatChain},
      {"NoFatChain ignores the FAT", true, {5, 6, 7}, Recoverability::ContiguousLikely},
      {"chain ends after two clusters", false, {5, 6}, Recoverability::ContiguousLikely},
      {"chain cleared", false, {}, Recoverability::ContiguousLikely},
  };
  for (const Case& c : cases) {
    CraftedExfat volume(64, 0);
    volume.chain({2});
    if (!c.chain.empty()) volume.chain(c.chain);
    volume.put_directory_entries({2}, 0,
                                 exfat_file_set(false, u"three.bin", 5, 1500, c.no_fat_chain));
    const auto candidates = scan_ok(volume);
    ASSERT_EQ(candidates.size(), 1u) << c.label;
    EXPECT_EQ(candidates[0].recoverability, c.expected) << c.label;
    EXPECT_EQ(candidates[0].no_fat_chain, c.no_fat_chain) << c.label;
  }
}

TEST(ExfatRootScan, SetsStraddleClustersInChainOrder) {
  CraftedExfat volume(64, 0);  // 16 entries per cluster
  const std::vector<std::uint32_t> root = {2, 9, 4};
  volume.chain(root);
  std::vector<RawEntry> entries(14, raw_type(0xA0));  // benign secondary-looking entries
  for (const auto& e : exfat_file_set(false, u"straddling-the-boundary.bin", 20, 10))
    entries.push_back(e);
  for (const auto& e : exfat_file_set(false, u"third.bin", 21, 10)) entries.push_back(e);
  volume.put_directory_entries(root, 0, entries);
  const auto candidates = scan_ok(volume);
  ASSERT_EQ(names(candidates),
            (std::vector<std::string>{"straddling-the-boundary.bin", "third.bin"}));
  EXPECT_EQ(candidates[0].id, "exfat:1:" + std::to_string(32 * 14));
  EXPECT_EQ(candidates[1].id, "exfat:1:" + std::to_string(32 * 18));
}

TEST(ExfatRootScan, ASetRunningPastTheEndStopsTheScan) {
  // One 16-entry cluster: a set of 3 entries fits at entry 13 (13 + 2 < 16),
  // not at entry 14.
  for (const std::uint64_t start : {13u, 14u}) {
    CraftedExfat volume(64, 0);
    volume.chain({2});
    std::vector<RawEntry> entries = exfat_file_set(false, u"first.bin", 10, 10);  // 3 entries
    entries.resize(start, raw_type(0xA0));
    for (const auto& e : exfat_file_set(false, u"edge.bin", 11, 10)) entries.push_back(e);
    entries.resize(std::min<std::size_t>(entries.size(), 16));
    volume.put_directory_entries({2}, 0, entries);
    // The set at 14 claims 2 secondaries; the root's chain ends with this
    // cluster, so the set would run past the directory.
    const std::vector<std::string> expected =
        start == 13 ? std::vector<std::string>{"first.bin", "edge.bin"}
                    : std::vector<std::string>{"first.bin"};
    EXPECT_EQ(names(scan_ok(volume)), expected) << "set at entry " << start;
  }
}

TEST(ExfatRootScan, EndOfDirectoryStopsTheScan) {
  CraftedExfat volume(64, 0);
  volume.chain({2, 3});
  std::vector<RawEntry> entries = exfat_file_set(false, u"before.bin", 10, 10);
  entries.push_back(raw_type(0x00));
  for (const auto& e : exfat_file_set(false, u"after.bin", 11, 10)) entries.push_back(e);
  volume.put_directory_entries({2, 3}, 0, entries);
  volume.source().fail_range(volume.cluster_offset(3), 1, SourceError::device_disconnected());
  EXPECT_EQ(names(scan_ok(volume)), std::vector<std::string>{"before.bin"});
}

TEST(ExfatRootScan, ErrorsThatEndTheScan) {
  struct Case {
    const char* label;
    std::vector<std::uint32_t> root_chain;
    std::uint32_t first_cluster;
    bool fail_root_read;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"first cluster beyond the heap",
       {2},
       66,
       false,
       "invalid structure: exFAT cluster outside heap"},
      {"root chain leaves the heap",
       {2, 200},
       10,
       false,
       "invalid structure: exFAT cluster outside heap"},
      {"root cluster unreadable", {2}, 10, true, "device disconnected during read"},
  };
  for (const Case& c : cases) {
    CraftedExfat volume(64, 0);
    volume.chain(c.root_chain);
    volume.put_directory_entries({2}, 0, exfat_file_set(false, u"a.bin", c.first_cluster, 10));
    if (c.fail_root_read) {
      volume.source().fail_range(volume.cluster_offset(2), 1, SourceError::device_disconnected());
    }
    auto candidates = scan(volume);
    ASSERT_FALSE(candidates) << c.label;
    EXPECT_EQ(candidates.error().message(), c.expected) << c.label;
  }
}

TEST(ExfatRootScan, ASinkThatStopsEndsTheScan) {
  const std::vector<std::string> order = {"one.bin", "two.bin", "three.bin"};
  for (std::size_t wanted = 1; wanted <= order.size(); ++wanted) {
    CraftedExfat volume(64, 0);
    volume.chain({2});
    std::vector<RawEntry> entries;
    for (std::size_t i = 0; i < order.size(); ++i) {
      const std::u16string name(order[i].begin(), order[i].end());
      for (const auto& e : exfat_file_set(false, name, static_cast<std::uint32_t>(10 + i), 10))
        entries.push_back(e);
    }
    volume.put_directory_entries({2}, 0, entries);
    StoppingSink sink(wanted);
    auto scanned = scan_exfat_root(volume.source(), volume.volume(), 1, 2, sink);
    ASSERT_TRUE(scanned) << scanned.error().message();
    EXPECT_EQ(names(sink.candidates),
              std::vector<std::string>(order.begin(), order.begin() + wanted))
        << "stop after " << wanted;
  }
}

// A directory other than the root is found by its first cluster, how its
// clusters follow each other and its length.
TEST(ExfatDirectoryScan, ExtentDecidesWhichDataIsRead) {
  struct Case {
    const char* label;
    ExfatDirectoryExtent extent;
    bool fat_links_the_clusters;
    std::vector<std::string> names;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"contiguous, two clusters", {9, true, 1024}, false, {"straddling.bin", "second.bin"}, ""},
      {"contiguous, one cluster cuts the straddling set", {9, true, 512}, false, {}, ""},
      {"contiguous, the length ends inside a cluster",
       {9, true, 32 * 17 + 16},
       false,
       {"straddling.bin"},
       ""},
      {"contiguous, empty", {9, true, 0}, false, {}, ""},
      {"contiguous clusters the FAT does not link", {9, false, 1024}, false, {}, ""},
      {"FAT chain, cut by the length", {9, false, 512}, true, {}, ""},
      {"FAT chain, no length",
       {9, false, std::nullopt},
       true,
       {"straddling.bin", "second.bin"},
       ""},
      {"contiguous run leaving the heap",
       {65, true, 1024},
       false,
       {},
       "invalid structure: exFAT cluster outside heap"},
  };
  for (const Case& c : cases) {
    CraftedExfat volume(64, 0);  // clusters 2..65, 16 entries each
    if (c.fat_links_the_clusters) volume.chain({9, 10});
    std::vector<RawEntry> entries(14, raw_type(0xA0));
    for (const auto& e : exfat_file_set(false, u"straddling.bin", 20, 10)) entries.push_back(e);
    for (const auto& e : exfat_file_set(false, u"second.bin", 21, 10)) entries.push_back(e);
    volume.put_directory_entries({9, 10}, 0, entries);

    CandidateBuilder builder(volume.source(), cluster_area(volume.volume()), FilesystemKind::Exfat);
    std::vector<RecoveryCandidate> found;
    CandidateCollector collector(found);
    auto scanned =
        scan_exfat_directory(volume.source(), volume.volume(), 1, c.extent, builder, collector);
    if (!c.error.empty()) {
      ASSERT_FALSE(scanned) << c.label;
      EXPECT_EQ(scanned.error().message(), c.error) << c.label;
      continue;
    }
    ASSERT_TRUE(scanned) << c.label << ": " << scanned.error().message();
    EXPECT_EQ(names(found), c.names) << c.label;
    if (found.size() == 2) {
      EXPECT_EQ(found[1].id, "exfat:1:" + std::to_string(32 * 17)) << c.label;
    }
  }
}

TEST(ExfatRootScan, HugeClustersAreReadInPieces) {
  // 2 GiB clusters (2^9-byte sectors, 2^22 sectors per cluster) in a sparse
  // image: the root is read a piece at a time, never a whole cluster.
  CraftedExfat volume(3, 22);
  volume.chain({2});
  constexpr std::uint64_t kPieceEntries = 1024 * 1024 / 32;
  std::vector<RawEntry> entries(kPieceEntries - 2, raw_type(0xA0));
  for (const auto& e : exfat_file_set(false, u"across-pieces.bin", 3, 10)) entries.push_back(e);
  volume.put_directory_entries({2}, 0, entries);
  const auto candidates = scan_ok(volume);
  ASSERT_EQ(names(candidates), std::vector<std::string>{"across-pieces.bin"});
  EXPECT_EQ(candidates[0].id, "exfat:1:" + std::to_string(32 * (kPieceEntries - 2)));
  EXPECT_LE(volume.source().largest_read(), 1024u * 1024u);
}

}  // namespace
}  // namespace kestrel::testing
