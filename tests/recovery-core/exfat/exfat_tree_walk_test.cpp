// The walk of every exFAT folder on volumes laid out by hand: order, paths and
// ids, deleted folders and the clusters that decide them, the freed clusters
// after a shrunk directory, loops and depth, and damage that must stay local.
#include "recovery-core/exfat/exfat_tree_walk.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recovery-core/candidates/candidate_messages.hpp"
#include "recovery-core/candidates/folder_path.hpp"
#include "recovery-core/exfat/exfat_cluster_recognition.hpp"
#include "recovery-core/exfat/exfat_directory.hpp"
#include "tests/support/crafted_volumes.hpp"
#include "tests/support/stopping_sink.hpp"

namespace kestrel::testing {
namespace {

constexpr std::uint32_t kBitmap = 2;
constexpr std::uint32_t kRoot = 3;
constexpr std::uint64_t kCluster = 512;  // 16 entries

std::vector<RawEntry> sealed_file(bool in_use, std::u16string_view name, std::uint32_t cluster,
                                  std::uint64_t length = 100) {
  std::vector<RawEntry> set = exfat_file_set(in_use, name, cluster, length, true);
  exfat_seal_set(set);
  return set;
}

std::vector<RawEntry> joined(std::initializer_list<std::vector<RawEntry>> sets) {
  std::vector<RawEntry> entries;
  for (const auto& set : sets) entries.insert(entries.end(), set.begin(), set.end());
  return entries;
}

// A 64-cluster volume of 512-byte clusters: the allocation bitmap in cluster
// 2, the root in clusters 3 and 4 beginning with the bitmap's entry.
// Clusters not listed in `in_use` are free.
struct Card {
  CraftedExfat volume{64, 0};
  std::vector<std::uint32_t> in_use{kRoot, kRoot + 1};

  void root(const std::vector<RawEntry>& entries) {
    volume.chain({kRoot, kRoot + 1});
    volume.put_entry(kRoot, 0, exfat_bitmap_entry(kBitmap, 8));
    volume.put_directory_entries({kRoot, kRoot + 1}, 1, entries);
  }
  void folder(std::uint32_t cluster, const std::vector<RawEntry>& entries, bool live = true) {
    volume.put_directory_entries({cluster}, 0, entries);
    if (live) in_use.push_back(cluster);
  }
  std::expected<std::vector<RecoveryCandidate>, RecoveryError> walk() {
    volume.write_allocation_bitmap(kBitmap, in_use);
    std::vector<RecoveryCandidate> candidates;
    CandidateCollector collector(candidates);
    if (auto walked = scan_exfat_tree(volume.source(), volume.volume(), 1, kRoot, collector);
        !walked) {
      return std::unexpected(walked.error());
    }
    return candidates;
  }
  std::vector<RecoveryCandidate> scan() {
    auto candidates = walk();
    EXPECT_TRUE(candidates) << candidates.error().message();
    return candidates ? *candidates : std::vector<RecoveryCandidate>{};
  }
};

// "name in folder" for each candidate, in order.
std::vector<std::string> found(const std::vector<RecoveryCandidate>& candidates) {
  std::vector<std::string> result;
  for (const auto& c : candidates)
    result.push_back(c.name + " in " + folder_path_text(c.directory.value()));
  return result;
}

bool noted_inside_deleted_folder(const RecoveryCandidate& candidate) {
  return std::ranges::count(candidate.validation_notes, std::string(kInsideDeletedFolderNote)) == 1;
}

TEST(ExfatTreeWalk, LiveFoldersDepthFirstWithPathsAndIds) {
  Card card;
  card.root(
      joined({sealed_file(false, u"first.jpg", 20), exfat_folder_set(true, u"DCIM", 5, kCluster),
              sealed_file(false, u"last.jpg", 21)}));
  card.folder(5, exfat_folder_set(true, u"100CANON", 6, kCluster));
  card.folder(
      6, joined({sealed_file(true, u"kept.jpg", 22), sealed_file(false, u"IMG_0002.JPG", 23)}));
  const auto candidates = card.scan();
  ASSERT_EQ(found(candidates),
            (std::vector<std::string>{"first.jpg in /", "IMG_0002.JPG in /DCIM/100CANON",
                                      "last.jpg in /"}));
  EXPECT_EQ(candidates[0].id, "exfat:1:32");  // the root keeps its ids
  EXPECT_EQ(candidates[1].id,
            "exfat:1:6:96");  // elsewhere: the folder's first cluster, then the offset
  for (const auto& c : candidates) EXPECT_FALSE(noted_inside_deleted_folder(c)) << c.name;

  // The root's candidates are the root scan's, with the same ids.
  std::vector<RecoveryCandidate> root_only;
  CandidateCollector collector(root_only);
  ASSERT_TRUE(scan_exfat_root(card.volume.source(), card.volume.volume(), 1, kRoot, collector));
  ASSERT_EQ(root_only.size(), 2u);
  EXPECT_EQ(root_only[0].id, candidates[0].id);
  EXPECT_EQ(root_only[1].id, candidates[2].id);
}

TEST(ExfatTreeWalk, DeletedFoldersAreWalkedOnlyWhenTheirClustersStillHoldThem) {
  struct Case {
    const char* label;
    void (*spoil)(Card&);  // done to the deleted folder in cluster 8 before the scan
    bool walked;
  };
  const std::vector<Case> cases = {
      {"free and sound", [](Card&) {}, true},
      {"taken again (bitmap)", [](Card& c) { c.in_use.push_back(8); }, false},
      {"checksum broken", [](Card& c) { c.volume.put_entry(8, 0, exfat_file_entry(false, 2)); },
       false},
      {"overwritten by file data", [](Card& c) { c.volume.fill_cluster(8, std::string(512, 'x')); },
       false},
      {"zeroed", [](Card& c) { c.volume.fill_cluster(8, std::string(512, '\0')); }, false},
  };
  for (const Case& c : cases) {
    Card card;
    card.root(joined(
        {exfat_folder_set(false, u"Trash", 8, kCluster), sealed_file(false, u"after.bin", 30)}));
    card.folder(8,
                joined({sealed_file(false, u"gone.jpg", 20),
                        exfat_folder_set(false, u"inner", 9, kCluster)}),
                false);
    card.folder(9, sealed_file(false, u"deep.jpg", 21), false);
    c.spoil(card);
    const auto candidates = card.scan();
    const std::vector<std::string> expected =
        c.walked ? std::vector<std::string>{"gone.jpg in /Trash", "deep.jpg in /Trash/inner",
                                            "inner in /Trash", "Trash in /", "after.bin in /"}
                 : std::vector<std::string>{"Trash in /", "after.bin in /"};
    EXPECT_EQ(found(candidates), expected) << c.label;
    for (const auto& candidate : candidates) {
      EXPECT_EQ(noted_inside_deleted_folder(candidate), candidate.directory != FolderPath{})
          << c.label;
    }
  }
}

TEST(ExfatTreeWalk, ShrunkDirectoriesGoOnIntoTheFreeClustersAfterThem) {
  Card card;
  // /Burst keeps one cluster (5); its freed clusters 6 and 7 still hold
  // deleted sets, one of them straddling 5 and 6. Cluster 8 right after them
  // is a deleted folder of its own, reached through its entry: its file is
  // not /Burst's.
  card.root(joined({exfat_folder_set(true, u"Burst", 5, kCluster),
                    exfat_folder_set(false, u"Old", 8, kCluster)}));
  const std::vector<RawEntry> stray(2, RawEntry{0x41});
  card.volume.put_directory_entries(
      {5, 6, 7}, 0,
      joined({sealed_file(true, u"kept 1.jpg", 40), sealed_file(true, u"kept 2.jpg", 41),
              sealed_file(true, u"kept 3.jpg", 42), sealed_file(true, u"kept 4.jpg", 43),
              sealed_file(true, u"kept 5.jpg", 44), sealed_file(false, u"straddles.jpg", 45),
              sealed_file(false, u"burst 7.jpg", 46), sealed_file(false, u"burst 8.jpg", 47),
              sealed_file(false, u"burst 9.jpg", 48), sealed_file(false, u"burst 10.jpg", 49),
              stray, sealed_file(false, u"burst 11.jpg", 50),
              std::vector<RawEntry>(13, RawEntry{0x41})}));
  card.in_use.push_back(5);
  card.folder(8, sealed_file(false, u"old.jpg", 51), false);
  const auto candidates = card.scan();
  EXPECT_EQ(found(candidates),
            (std::vector<std::string>{"old.jpg in /Old", "Old in /", "straddles.jpg in /Burst",
                                      "burst 7.jpg in /Burst", "burst 8.jpg in /Burst",
                                      "burst 9.jpg in /Burst", "burst 10.jpg in /Burst",
                                      "burst 11.jpg in /Burst"}));
  EXPECT_EQ(candidates[2].id, "exfat:1:5:480");  // offsets go on past the directory's own clusters
  EXPECT_FALSE(noted_inside_deleted_folder(candidates[2]));

  // A set read partly from freed clusters counts only when it is sound.
  RawEntry stream =
      exfat_stream_entry(false, true, 13, 45, 999);  // its length changed after sealing
  card.volume.put_entry(6, 0, stream);
  EXPECT_EQ(found(card.scan())[2], "burst 7.jpg in /Burst");

  // An allocated cluster, or one that holds no sound set, ends the directory.
  card.in_use.push_back(7);
  EXPECT_EQ(card.scan().size(), 2u + 4u);
  card.volume.fill_cluster(6, std::string(32, '\x7E'));
  EXPECT_EQ(card.scan().size(), 2u);
}

TEST(ExfatTreeWalk, LoopsCrossLinksAndDepth) {
  Card card;
  // A folder pointing back at the root, two entries sharing one folder, and
  // a chain of folders deeper than the walk goes.
  card.root(joined(
      {exfat_folder_set(true, u"Loop", kRoot, kCluster), exfat_folder_set(true, u"A", 5, kCluster),
       exfat_folder_set(true, u"B", 5, kCluster), exfat_folder_set(false, u"C", 50, kCluster),
       exfat_folder_set(false, u"D", 50, kCluster),
       exfat_folder_set(true, u"deep", 10, kCluster)}));
  card.folder(5, joined({sealed_file(false, u"shared.jpg", 20),
                         exfat_folder_set(true, u"up", 5, kCluster)}));
  card.folder(50, sealed_file(false, u"shared too.jpg", 21), false);
  for (std::uint32_t level = 0; level < 34; ++level) {
    card.folder(10 + level,
                joined({sealed_file(false, u"level" + std::u16string(1, u'a' + level % 26), 60),
                        exfat_folder_set(true, u"next", 11 + level, kCluster)}));
  }
  const auto candidates = card.scan();
  // The shared files once, the two deleted folders themselves, levels 1 to 32 below the root.
  ASSERT_EQ(candidates.size(), 2u + 2u + 32u);
  EXPECT_EQ(
      found({candidates.begin(), candidates.begin() + 4}),
      (std::vector<std::string>{"shared.jpg in /A", "shared too.jpg in /C", "C in /", "D in /"}));
  EXPECT_EQ(candidates.back().directory->size(), 32u);
}

TEST(ExfatTreeWalk, DamageAwayFromTheRootNeverFailsTheScan) {
  Card card;
  card.root(
      joined({exfat_folder_set(true, u"Sub", 5, kCluster),
              exfat_folder_set(true, u"Far", 900, kCluster), sealed_file(false, u"root.jpg", 20)}));
  card.folder(5, joined({sealed_file(false, u"outside.jpg", 5000),
                         exfat_folder_set(false, u"Gone", 901, kCluster),
                         sealed_file(false, u"inside.jpg", 21)}));
  // Outside the heap: a subdirectory's file and deleted folder are passed
  // over, a live folder is not entered.
  EXPECT_EQ(found(card.scan()), (std::vector<std::string>{"inside.jpg in /Sub", "root.jpg in /"}));

  // In the root's own entries the same damage fails, as the root scan does.
  Card root_damage;
  root_damage.root(sealed_file(false, u"outside.jpg", 5000));
  auto failed = root_damage.walk();
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().message(), "invalid structure: exFAT cluster outside heap");
}

TEST(ExfatTreeWalk, ASinkThatStopsEndsTheWalk) {
  Card card;
  card.root(
      joined({exfat_folder_set(true, u"Sub", 5, kCluster), sealed_file(false, u"root.jpg", 20)}));
  card.folder(5, joined({sealed_file(false, u"one.jpg", 21), sealed_file(false, u"two.jpg", 22)}));
  card.volume.write_allocation_bitmap(kBitmap, card.in_use);
  StoppingSink sink(1);
  ASSERT_TRUE(scan_exfat_tree(card.volume.source(), card.volume.volume(), 1, kRoot, sink));
  EXPECT_EQ(found(sink.candidates), std::vector<std::string>{"one.jpg in /Sub"});
}

TEST(ExfatClusterRecognition, WhatCountsAsDirectoryEntries) {
  struct Case {
    const char* label;
    std::vector<RawEntry> entries;
    bool holds;
  };
  std::vector<RawEntry> tampered = sealed_file(false, u"a.jpg", 9);
  tampered[1][24] ^= 1;  // the length changed after sealing
  std::vector<RawEntry> mixed = sealed_file(false, u"a.jpg", 9);
  mixed[2][0] = 0xC1;
  exfat_seal_set(mixed);
  std::vector<RawEntry> no_name = {exfat_file_entry(false, 1),
                                   exfat_stream_entry(false, true, 0, 9, 10)};
  exfat_seal_set(no_name);
  std::vector<RawEntry> unknown_type = sealed_file(false, u"a.jpg", 9);
  unknown_type.push_back(RawEntry{0x7E});
  std::vector<RawEntry> cut_off(15, RawEntry{0x41});
  cut_off.push_back(sealed_file(false, u"a.jpg", 9)[0]);
  const std::vector<RawEntry> stray_tail = {exfat_name_entry(false, u"tail")};
  const std::vector<Case> cases = {
      {"nothing", {}, false},
      {"a deleted set", sealed_file(false, u"a.jpg", 9), true},
      {"a live set", sealed_file(true, u"a.jpg", 9), true},
      {"a set with a broken checksum", tampered, false},
      {"secondaries in and out of use", mixed, false},
      {"a set without a name entry", no_name, false},
      {"an unknown entry type", unknown_type, false},
      {"only a set cut off at the end", cut_off, false},
      {"the tail of an earlier set, then a set",
       joined({stray_tail, sealed_file(false, u"b.jpg", 9)}), true},
      {"the root's own entries and a set",
       joined({{exfat_bitmap_entry(2, 8), RawEntry{0x82}, RawEntry{0x83}},
               sealed_file(true, u"b.jpg", 9)}),
       true},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes(512, 0);
    for (std::size_t i = 0; i < c.entries.size(); ++i)
      std::ranges::copy(c.entries[i], bytes.begin() + 32 * i);
    EXPECT_EQ(holds_exfat_entry_sets(bytes), c.holds) << c.label;
  }
}

}  // namespace
}  // namespace kestrel::testing
