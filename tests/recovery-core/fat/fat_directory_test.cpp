// The FAT32 directory walk on volumes laid out by hand: order and ids, loops
// and cross-linked directories, the depth limit, the end marker, long names in
// context, start-cluster runs, chains, read failures and huge clusters; and
// the walk of every folder: paths, deleted folders and the clusters that
// decide them, cleared high words, damage that stays local.
#include "recovery-core/fat/fat_directory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "recovery-core/candidates/candidate_messages.hpp"
#include "recovery-core/candidates/folder_path.hpp"
#include "recovery-core/fat/fat_messages.hpp"
#include "tests/support/crafted_volumes.hpp"
#include "tests/support/stopping_sink.hpp"

namespace kestrel::testing {
namespace {

constexpr std::uint8_t kFile = 0x20;
constexpr std::uint8_t kDirectory = 0x10;
constexpr std::uint8_t kLabel = 0x08;

std::expected<std::vector<RecoveryCandidate>, RecoveryError> walk(CraftedFat32& volume,
                                                                  std::uint32_t root = 2) {
  std::vector<RecoveryCandidate> candidates;
  CandidateCollector collector(candidates);
  if (auto walked = scan_fat32_volume(volume.source(), volume.volume(), root, collector); !walked) {
    return std::unexpected(walked.error());
  }
  return candidates;
}

std::vector<RecoveryCandidate> scan(CraftedFat32& volume, std::uint32_t root = 2) {
  auto candidates = walk(volume, root);
  EXPECT_TRUE(candidates) << candidates.error().message();
  return candidates ? *candidates : std::vector<RecoveryCandidate>{};
}

// The walk of every folder; "name in folder" for each candidate, with " (deleted folder)"
// when it carries the note for files found inside one.
std::vector<std::string> scan_all(CraftedFat32& volume) {
  std::vector<RecoveryCandidate> candidates;
  CandidateCollector collector(candidates);
  auto walked =
      scan_fat32_volume(volume.source(), volume.volume(), 2, collector, Fat32Walk::AllDirectories);
  EXPECT_TRUE(walked) << walked.error().message();
  std::vector<std::string> found;
  for (const auto& c : candidates) {
    const bool noted =
        std::ranges::count(c.validation_notes, std::string(kInsideDeletedFolderNote)) == 1;
    found.push_back(c.name + " in " + folder_path_text(c.directory.value()) +
                    (noted ? " (deleted folder)" : ""));
  }
  return found;
}

// The first cluster of a folder living at `cluster`: "." naming it, "..", then `entries`.
void put_folder(CraftedFat32& volume, std::uint32_t cluster, std::vector<RawEntry> entries) {
  entries.insert(entries.begin(), {fat_short_entry(".          ", 0x10, cluster, 0),
                                   fat_short_entry("..         ", 0x10, 0, 0)});
  volume.put_entries(cluster, 0, entries);
}

std::vector<std::string> names(const std::vector<RecoveryCandidate>& candidates) {
  std::vector<std::string> result;
  for (const auto& c : candidates) result.push_back(c.name);
  return result;
}

std::string id_of(const CraftedFat32& volume, std::uint32_t cluster, std::uint32_t index) {
  return "fat32:1:" + std::to_string(volume.entry_offset(cluster, index));
}

RawEntry deleted_file(std::string_view name11, std::uint32_t cluster, std::uint32_t size) {
  return fat_deleted(fat_short_entry(name11, kFile, cluster, size));
}

// Puts the entries at the start of a directory cluster and fills the rest with
// live files, so that the directory goes on into its next cluster.
void put_full_cluster(CraftedFat32& volume, std::uint32_t cluster, std::vector<RawEntry> entries) {
  entries.resize(volume.cluster_size() / 32, fat_short_entry("FILLER  TXT", kFile, 9, 1));
  volume.put_entries(cluster, 0, entries);
}

TEST(Fat32DirectoryWalk, CandidatesInWalkOrderWithEntryOffsetIds) {
  CraftedFat32 volume(100);
  volume.chain({2});
  volume.chain({3});
  volume.put_entries(
      2, 0,
      {fat_short_entry("VOLUME     ", kLabel, 0, 0), deleted_file("AONE    TXT", 10, 100),
       fat_short_entry("SUB        ", kDirectory, 3, 0),
       fat_short_entry("LIVE    TXT", kFile, 20, 5), deleted_file("ATHREE  TXT", 11, 700)});
  volume.put_entries(
      3, 0,
      {fat_short_entry(".          ", kDirectory, 3, 0),
       fat_short_entry("..         ", kDirectory, 0, 0), deleted_file("ATWO    BIN", 12, 50)});
  const auto candidates = scan(volume);
  ASSERT_EQ(names(candidates), (std::vector<std::string>{"_ONE.TXT", "_TWO.BIN", "_THREE.TXT"}));

  const RecoveryCandidate& first = candidates[0];
  EXPECT_EQ(first.id, id_of(volume, 2, 1));
  EXPECT_EQ(first.partition_index, 1u);
  EXPECT_EQ(first.file_system, FilesystemKind::Fat32);
  EXPECT_EQ(first.size, 100u);
  EXPECT_EQ(first.first_cluster, 10u);
  EXPECT_EQ(first.data_offset, volume.cluster_offset(10));
  EXPECT_EQ(first.cluster_size, 512u);
  EXPECT_EQ(first.recoverability, Recoverability::ContiguousLikely);
  EXPECT_TRUE(first.deleted);
  EXPECT_EQ(std::get<ClusterArea>(first.layout), cluster_area(volume.volume()));
  EXPECT_EQ(candidates[1].id, id_of(volume, 3, 2));
  EXPECT_EQ(candidates[2].id, id_of(volume, 2, 4));
}

TEST(Fat32DirectoryWalk, ASinkThatStopsEndsTheWholeWalk) {
  // Walk order: _ONE, then SUB's _TWO and _FOUR, then _THREE after SUB's entry.
  const std::vector<std::string> order = {"_ONE.TXT", "_TWO.BIN", "_FOUR.BIN", "_THREE.TXT"};
  for (std::size_t wanted = 1; wanted <= order.size(); ++wanted) {
    CraftedFat32 volume(100);
    volume.chain({2});
    volume.chain({3});
    volume.put_entries(
        2, 0,
        {deleted_file("AONE    TXT", 10, 100), fat_short_entry("SUB        ", kDirectory, 3, 0),
         deleted_file("ATHREE  TXT", 11, 700)});
    volume.put_entries(3, 0,
                       {deleted_file("ATWO    BIN", 12, 50), deleted_file("AFOUR   BIN", 13, 50)});
    StoppingSink sink(wanted);
    auto walked = scan_fat32_volume(volume.source(), volume.volume(), 2, sink);
    ASSERT_TRUE(walked) << walked.error().message();
    EXPECT_EQ(names(sink.candidates),
              std::vector<std::string>(order.begin(), order.begin() + wanted))
        << "stop after " << wanted;
  }
}

TEST(Fat32DirectoryWalk, PreservedChainsMakeFatChainCandidates) {
  CraftedFat32 volume(100);
  volume.chain({2});
  volume.chain({20, 21, 40});  // a fragmented file whose chain survived
  volume.put_entries(2, 0,
                     {deleted_file("AKEPT   BIN", 20, 1500), deleted_file("ALOST   BIN", 50, 1500),
                      deleted_file("ASHORT  BIN", 20, 2000), deleted_file("AONE    BIN", 40, 512)});
  const auto candidates = scan(volume);
  ASSERT_EQ(candidates.size(), 4u);
  EXPECT_EQ(candidates[0].recoverability, Recoverability::FatChain);          // 3 of 3 clusters
  EXPECT_EQ(candidates[1].recoverability, Recoverability::ContiguousLikely);  // cleared FAT
  EXPECT_EQ(candidates[2].recoverability, Recoverability::ContiguousLikely);  // chain too short
  EXPECT_EQ(candidates[3].recoverability, Recoverability::ContiguousLikely);  // one cluster
}

TEST(Fat32DirectoryWalk, DirectoryLoopsAreWalkedOnce) {
  CraftedFat32 volume(100);
  volume.set_fat(2, 4);
  volume.set_fat(4, 2);  // the root's chain loops back to its start
  volume.chain({3});
  put_full_cluster(
      volume, 2,
      {deleted_file("AROOT   TXT", 30, 10), fat_short_entry("SUB        ", kDirectory, 3, 0)});
  put_full_cluster(volume, 4, {deleted_file("ASECOND TXT", 31, 10)});
  // The subdirectory points back at the root and at itself.
  volume.put_entries(
      3, 0,
      {fat_short_entry("BACK       ", kDirectory, 2, 0),
       fat_short_entry("SELF       ", kDirectory, 3, 0), deleted_file("ASUB    TXT", 32, 10)});
  EXPECT_EQ(names(scan(volume)),
            (std::vector<std::string>{"_ROOT.TXT", "_SUB.TXT", "_SECOND.TXT"}));
}

// Two directories share clusters: the second starts inside the first's chain.
TEST(Fat32DirectoryWalk, CrossLinkedDirectoriesGiveEachEntryOnce) {
  for (const bool inner_first : {false, true}) {
    CraftedFat32 volume(100);
    volume.chain({2});
    volume.chain({5, 6, 7});
    const RawEntry outer = fat_short_entry("OUTER      ", kDirectory, 5, 0);
    const RawEntry inner = fat_short_entry("INNER      ", kDirectory, 6, 0);
    volume.put_entries(
        2, 0,
        inner_first ? std::vector<RawEntry>{inner, outer} : std::vector<RawEntry>{outer, inner});
    put_full_cluster(volume, 5, {deleted_file("AFIVE   TXT", 50, 10)});
    put_full_cluster(volume, 6, {deleted_file("ASIX    TXT", 51, 10)});
    put_full_cluster(volume, 7, {deleted_file("ASEVEN  TXT", 52, 10)});
    const auto candidates = scan(volume);
    const std::vector<std::string> expected =
        inner_first ? std::vector<std::string>{"_SIX.TXT", "_SEVEN.TXT", "_FIVE.TXT"}
                    : std::vector<std::string>{"_FIVE.TXT", "_SIX.TXT", "_SEVEN.TXT"};
    EXPECT_EQ(names(candidates), expected) << "inner first: " << inner_first;
  }
}

// Many directory entries pointing into one long chain: every cluster is
// walked once, so the candidates do not multiply.
TEST(Fat32DirectoryWalk, EntriesPointingIntoOneChainDoNotMultiplyTheWalk) {
  constexpr std::uint32_t kChainStart = 10;
  constexpr std::uint32_t kChainLength = 300;
  CraftedFat32 volume(2000);
  volume.chain({2});
  std::vector<std::uint32_t> chain;
  for (std::uint32_t i = 0; i < kChainLength; ++i) chain.push_back(kChainStart + i);
  volume.chain(chain);
  for (std::uint32_t i = 0; i < kChainLength; ++i) {
    put_full_cluster(volume, kChainStart + i, {deleted_file("AFILE   BIN", 1000 + i, 10)});
  }
  // Root entries start directories at every tenth chain cluster, last one first.
  for (std::uint32_t k = 0; k < 15; ++k) {
    volume.put_entry(2, k,
                     fat_short_entry("DIR        ", kDirectory, kChainStart + 20 * (14 - k), 0));
  }
  const auto candidates = scan(volume);
  EXPECT_EQ(candidates.size(), kChainLength);
  std::set<std::string> ids;
  for (const auto& c : candidates) ids.insert(c.id);
  EXPECT_EQ(ids.size(), candidates.size());
}

TEST(Fat32DirectoryWalk, WalksThirtyTwoLevelsBelowTheRoot) {
  // Directory at depth d lives in cluster 2 + d and holds a deleted file and
  // the next level.
  constexpr std::uint32_t kLevels = 35;
  CraftedFat32 volume(200);
  for (std::uint32_t depth = 0; depth < kLevels; ++depth) {
    const std::uint32_t cluster = 2 + depth;
    volume.chain({cluster});
    volume.put_entry(cluster, 0, deleted_file("ALEVEL  BIN", 100 + depth, 10));
    volume.put_entry(cluster, 1, fat_short_entry("NEXT       ", kDirectory, cluster + 1, 0));
  }
  const auto candidates = scan(volume);
  ASSERT_EQ(candidates.size(), 33u);  // depths 0 to 32
  EXPECT_EQ(candidates.back().first_cluster, 100u + 32);
}

TEST(Fat32DirectoryWalk, EndMarkerStopsTheDirectory) {
  CraftedFat32 volume(100);
  volume.chain({2, 3});
  put_full_cluster(
      volume, 2,
      {deleted_file("ABEFORE TXT", 40, 10), RawEntry{}, deleted_file("AAFTER  TXT", 41, 10)});
  // Entry 1 is the end marker (all zero); later entries and clusters are not read.
  volume.put_entries(3, 0, {deleted_file("ANEXT   TXT", 42, 10)});
  EXPECT_EQ(names(scan(volume)), (std::vector<std::string>{"_BEFORE.TXT"}));

  CraftedFat32 empty_first(100);
  empty_first.chain({2, 3});
  empty_first.put_entries(3, 0, {deleted_file("ANEXT   TXT", 42, 10)});
  EXPECT_TRUE(scan(empty_first).empty());
}

TEST(Fat32DirectoryWalk, LongNamesInContext) {
  const std::string stored = "QUARTE~1PDF";
  const std::uint8_t sum = fat_long_name_checksum(stored);
  const auto long_name = fat_long_name_entries(u"Quarterly report.pdf", sum, true);
  ASSERT_EQ(long_name.size(), 2u);
  const RawEntry short_entry = deleted_file(stored, 40, 10);

  struct Case {
    const char* label;
    std::vector<RawEntry> entries;
    std::string expected;
  };
  auto restarted = long_name;
  restarted[0][13] = static_cast<std::uint8_t>(sum ^ 0x01);  // the name's end has another checksum
  auto twenty_one = fat_long_name_entries(std::u16string(270, u'n'), sum, true);
  std::vector<RawEntry> overflow = twenty_one;
  overflow.push_back(short_entry);
  std::vector<RawEntry> nineteen_then_short =
      fat_long_name_entries(std::u16string(250, u'n'), sum, true);
  nineteen_then_short.push_back(short_entry);

  const std::vector<Case> cases = {
      {"assembled", {long_name[0], long_name[1], short_entry}, "Quarterly report.pdf"},
      {"checksum restarts the list at the nearer entry",
       {restarted[0], restarted[1], short_entry},
       "Quarterly rep"},
      {"a volume label in between",
       {long_name[0], long_name[1], fat_short_entry("LABEL      ", kLabel, 0, 0), short_entry},
       "_UARTE~1.PDF"},
      {"a live long-name entry in between",
       {long_name[0], fat_long_name_entries(u"x", sum, false)[0], long_name[1], short_entry},
       "Quarterly rep"},
      {"more than twenty entries", overflow, "_UARTE~1.PDF"},
      {"twenty entries", nineteen_then_short, std::string(250, 'n')},
  };
  for (const Case& c : cases) {
    CraftedFat32 volume(100, 4);  // 2048-byte clusters hold 64 entries
    volume.chain({2});
    volume.put_entries(2, 0, c.entries);
    const auto candidates = scan(volume);
    ASSERT_EQ(candidates.size(), 1u) << c.label;
    EXPECT_EQ(candidates[0].name, c.expected) << c.label;
    const bool long_used = c.expected != "_UARTE~1.PDF";
    EXPECT_EQ(!candidates[0].validation_notes.empty() &&
                  candidates[0].validation_notes.back() == kFat32LongNameNote,
              long_used)
        << c.label;
  }
}

TEST(Fat32DirectoryWalk, LongNameEntriesCarryAcrossClusters) {
  const std::string stored = "QUARTE~1PDF";
  const auto long_name =
      fat_long_name_entries(u"Quarterly report.pdf", fat_long_name_checksum(stored), true);
  CraftedFat32 volume(100);
  volume.chain({2, 3});
  put_full_cluster(volume, 2, {});
  volume.put_entry(2, 15, long_name[0]);
  volume.put_entry(3, 0, long_name[1]);
  volume.put_entry(3, 1, deleted_file(stored, 40, 10));
  const auto candidates = scan(volume);
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].name, "Quarterly report.pdf");
  EXPECT_EQ(candidates[0].id, id_of(volume, 3, 1));
}

// 200,000 clusters of 4096 bytes; deleted entries whose high words were cleared.
TEST(Fat32DirectoryWalk, ClearedHighWordsAlongARun) {
  struct Case {
    const char* label;
    std::vector<RawEntry> between;  // entries between the first and the second deleted file
    std::uint32_t second_cluster;
  };
  const std::vector<Case> cases = {
      {"consecutive", {}, 65541},
      {"a long-name entry does not break the run",
       {fat_long_name_entries(u"x", 0x12, true)[0]},
       65541},
      {"a volume label does not break the run",
       {fat_short_entry("LABEL      ", kLabel, 0, 0)},
       65541},
      {"a live entry breaks the run", {fat_short_entry("LIVE    TXT", kFile, 90, 1)}, 5},
      {"a deleted empty file breaks the run", {deleted_file("AEMPTY  TXT", 0x30, 0)}, 5},
      {"a deleted directory breaks the run",
       {fat_deleted(fat_short_entry("ADIR       ", kDirectory, 0x31, 0))},
       5},
  };
  for (const Case& c : cases) {
    CraftedFat32 volume(200000, 8);
    volume.chain({2});
    std::vector<RawEntry> entries = {deleted_file("AFIRST  BIN", 0x0010, 8192)};
    entries.insert(entries.end(), c.between.begin(), c.between.end());
    entries.push_back(deleted_file("ASECOND BIN", 0x0005, 4096));
    entries.push_back(deleted_file("ATHIRD  BIN", 0x0005, 4096));
    volume.put_entries(2, 0, entries);
    const auto candidates = scan(volume);
    ASSERT_EQ(candidates.size(), 3u) << c.label;
    EXPECT_EQ(candidates[0].first_cluster, 0x10u) << c.label;
    EXPECT_EQ(candidates[1].first_cluster, c.second_cluster) << c.label;
    EXPECT_EQ(candidates[2].first_cluster, c.second_cluster)
        << c.label;  // shares the previous cluster
    EXPECT_EQ(candidates[1].data_offset, volume.cluster_offset(c.second_cluster)) << c.label;
  }
}

TEST(Fat32DirectoryWalk, EntriesWithoutADataClusterAreSkipped) {
  CraftedFat32 volume(100);
  volume.chain({2});
  volume.put_entries(2, 0,
                     {deleted_file("AZERO   TXT", 0, 10), deleted_file("AONE    TXT", 1, 10),
                      deleted_file("AFAR    TXT", 0x00100000, 10),
                      deleted_file("ALAST   TXT", 101, 10), deleted_file("APAST   TXT", 102, 10)});
  EXPECT_EQ(names(scan(volume)), (std::vector<std::string>{"_LAST.TXT"}));
}

TEST(Fat32DirectoryWalk, DirectoryReadFailuresEndTheWalk) {
  CraftedFat32 volume(100);
  volume.chain({2});
  volume.chain({3});
  volume.put_entries(
      2, 0,
      {deleted_file("AONE    TXT", 10, 10), fat_short_entry("SUB        ", kDirectory, 3, 0)});
  volume.source().fail_range(volume.cluster_offset(3), 1, SourceError::device_disconnected());
  auto candidates = walk(volume);
  ASSERT_FALSE(candidates);
  EXPECT_EQ(candidates.error().message(), "device disconnected during read");
}

TEST(Fat32DirectoryWalk, UnreadableFileChainFallsBackToContiguous) {
  CraftedFat32 volume(100);
  volume.chain({2});
  volume.chain({20, 21, 22});
  volume.put_entries(2, 0, {deleted_file("AFILE   BIN", 20, 1500)});
  volume.source().fail_range(volume.volume().fat_offset + 4 * 21, 4,
                             SourceError::device_disconnected());
  const auto candidates = scan(volume);
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].recoverability, Recoverability::ContiguousLikely);
}

TEST(Fat32DirectoryWalk, HugeClustersAreReadInPieces) {
  // 32768-byte sectors, 128 per cluster: 4 MiB clusters.
  CraftedFat32 volume(8, 128, 32768);
  volume.chain({2});
  const std::uint32_t entries_per_cluster = volume.cluster_size() / 32;
  put_full_cluster(volume, 2, {});
  volume.put_entry(2, entries_per_cluster - 1, deleted_file("ALAST   BIN", 3, 10));
  const auto candidates = scan(volume);
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].id, id_of(volume, 2, entries_per_cluster - 1));
  EXPECT_LE(volume.source().largest_read(), 256u * 1024u);
}

TEST(Fat32EveryFolder, PathsUseLiveLongNamesWhenTheyHold) {
  CraftedFat32 volume(100);
  volume.chain({2});
  volume.chain({3});
  volume.chain({4});
  const std::uint8_t checksum = fat_long_name_checksum("TRIPTO~1   ");
  std::vector<RawEntry> root = fat_long_name_entries(u"Trip to Jeju", checksum, false);
  root.push_back(fat_short_entry("TRIPTO~1   ", kDirectory, 3, 0));
  std::vector<RawEntry> wrong = fat_long_name_entries(u"Not its name", checksum ^ 1, false);
  root.insert(root.end(), wrong.begin(), wrong.end());
  root.push_back(fat_short_entry("SHORT      ", kDirectory, 4, 0));
  volume.put_entries(2, 0, root);
  put_folder(volume, 3, {deleted_file("APHOTO  JPG", 20, 10)});
  put_folder(volume, 4, {deleted_file("ANOTE   TXT", 21, 10)});
  EXPECT_EQ(scan_all(volume),
            (std::vector<std::string>{"_PHOTO.JPG in /Trip to Jeju", "_NOTE.TXT in /SHORT"}));
  // Without the option the same candidates carry no folder.
  for (const auto& c : scan(volume)) EXPECT_FALSE(c.directory) << c.name;
}

TEST(Fat32EveryFolder, DeletedFoldersAreWalkedFromTheirFirstClusterWhenItStillHoldsThem) {
  struct Case {
    const char* label;
    void (*spoil)(CraftedFat32&);  // done to the deleted folder in cluster 5
    bool walked;
  };
  const std::vector<Case> cases = {
      {"free, with . and ..", [](CraftedFat32&) {}, true},
      {"taken again in the FAT", [](CraftedFat32& v) { v.set_fat(5, 0x0FFFFFFF); }, false},
      {". names another cluster",
       [](CraftedFat32& v) { v.put_entry(5, 0, fat_short_entry(".          ", 0x10, 6, 0)); },
       false},
      {"no ..", [](CraftedFat32& v) { v.put_entry(5, 1, deleted_file("AFILE   TXT", 30, 10)); },
       false},
      {"file data over it", [](CraftedFat32& v) { v.fill_cluster(5, std::string(512, 'x')); },
       false},
  };
  for (const Case& c : cases) {
    CraftedFat32 volume(100);
    volume.chain({2});
    const std::uint8_t checksum = fat_long_name_checksum("OLDSTU~1   ");
    std::vector<RawEntry> root = fat_long_name_entries(u"Old stuff", checksum, true);
    root.push_back(fat_deleted(fat_short_entry("OLDSTU~1   ", kDirectory, 5, 0)));
    root.push_back(deleted_file("AROOT   TXT", 40, 10));
    volume.put_entries(2, 0, root);
    put_folder(volume, 5,
               {deleted_file("ALETTER TXT", 20, 10),
                fat_deleted(fat_short_entry("INNER      ", kDirectory, 6, 0))});
    put_folder(volume, 6, {deleted_file("APHOTO  JPG", 21, 10)});
    c.spoil(volume);
    const std::vector<std::string> expected =
        c.walked ? std::vector<std::string>{"_LETTER.TXT in /Old stuff (deleted folder)",
                                            "_PHOTO.JPG in /Old stuff/_NNER (deleted folder)",
                                            "_ROOT.TXT in /"}
                 : std::vector<std::string>{"_ROOT.TXT in /"};
    EXPECT_EQ(scan_all(volume), expected) << c.label;
  }
}

// Deletion by other systems clears the high word of every deleted entry, the
// folder's own included; "." keeps both halves, and the folder's cluster
// bounds its files' clusters from below.
TEST(Fat32EveryFolder, ClearedHighWordsAreRepairedThroughTheDotEntry) {
  CraftedFat32 volume(140000);
  constexpr std::uint32_t kFolder = 65536 + 100;
  volume.chain({2});
  std::vector<RawEntry> root = {
      fat_deleted(fat_short_entry("HOLIDAY    ", kDirectory, kFolder & 0xFFFF, 0))};
  volume.put_entries(2, 0, root);
  put_folder(volume, kFolder,
             {deleted_file("ABEACH  JPG", (kFolder + 1) & 0xFFFF, 1500),
              deleted_file("AHOTEL  JPG", (kFolder + 4) & 0xFFFF, 600)});
  volume.put_entry(
      100, 0,
      fat_short_entry(".          ", 0x10, 100, 0));  // a live folder's cluster in the low band
  volume.set_fat(100, 0x0FFFFFFF);
  std::vector<RecoveryCandidate> candidates;
  CandidateCollector collector(candidates);
  ASSERT_TRUE(
      scan_fat32_volume(volume.source(), volume.volume(), 2, collector, Fat32Walk::AllDirectories));
  ASSERT_EQ(candidates.size(), 2u);
  EXPECT_EQ(candidates[0].first_cluster, kFolder + 1);
  EXPECT_EQ(candidates[1].first_cluster, kFolder + 4);
  EXPECT_EQ(folder_path_text(*candidates[0].directory), "/_OLIDAY");
}

TEST(Fat32EveryFolder, DamageInsideADeletedFolderNeverFailsTheScan) {
  CraftedFat32 volume(100);
  volume.chain({2});
  volume.put_entries(2, 0,
                     {fat_deleted(fat_short_entry("GONE       ", kDirectory, 5, 0)),
                      fat_deleted(fat_short_entry("LOOP       ", kDirectory, 6, 0)),
                      deleted_file("AROOT   TXT", 40, 10)});
  put_folder(volume, 5, {deleted_file("AFILE   TXT", 20, 10)});
  volume.source().fail_range(volume.cluster_offset(5) + 64, 1, SourceError::device_disconnected());
  // A deleted folder that holds itself and its parent.
  put_folder(
      volume, 6,
      {fat_deleted(fat_short_entry("SELF       ", kDirectory, 6, 0)),
       fat_short_entry("ROOT       ", kDirectory, 2, 0), deleted_file("AINSIDE TXT", 41, 10)});
  EXPECT_EQ(scan_all(volume),
            (std::vector<std::string>{"_INSIDE.TXT in /_OOP (deleted folder)", "_ROOT.TXT in /"}));
}

}  // namespace
}  // namespace kestrel::testing
