#include "recovery-core/filesystem/deleted_file_chain.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "recovery-core/filesystem/cluster_chain.hpp"
#include "tests/support/fat_image.hpp"
#include "tests/support/memory_source.hpp"

namespace kestrel::testing {
namespace {

constexpr std::uint64_t kFat = 1024;
constexpr std::uint32_t kCluster = 4096;
constexpr std::uint32_t kFat32End = 0x0FFFFFFF;
constexpr std::uint32_t kExfatEnd = 0xFFFFFFFF;

// 512-byte sectors, 8 per cluster: 4096-byte clusters. The data area need not exist:
// counting only reads the FAT.
const Fat32Volume kFat32{kFat, 1u << 20, 1, 512, 8, 100000};
const ExfatVolume kExfat{kFat, 1u << 20, 512, 8, 100};

std::string text(const std::expected<std::uint32_t, RecoveryError>& count) {
  return count ? std::to_string(*count) : count.error().display();
}

struct CountCase {
  const char* what;
  std::function<void(std::vector<std::uint8_t>&)> layout;
  std::function<void(MemorySource&)> failures;
  std::uint32_t first;
  std::uint64_t size;
  std::string count;
  std::size_t reads;
};

void no_failures(MemorySource&) {}

TEST(DeletedFileOffsetCount, Fat32Rules) {
  const auto fragmented = [](auto& i) { link_chain(i, kFat, {100, 101, 250}, kFat32End); };
  const std::vector<CountCase> cases = {
      {"intact fragmented chain: 10,000 bytes in three clusters", fragmented, no_failures, 100, 10000, "3", 2},
      {"entries cleared by deletion", [](auto&) {}, no_failures, 100, 10000, "0", 1},
      {"one-cluster file", fragmented, no_failures, 100, 100, "1", 0},
      {"chain longer than the file: the walk stops at what is needed",
       [](auto& i) { link_chain(i, kFat, cluster_run(100, 11), kFat32End); }, no_failures, 100, 8192, "2", 1},
      {"chain ends one cluster early",
       [](auto& i) { link_chain(i, kFat, {100, 101}, kFat32End); }, no_failures, 100, 3 * kCluster, "0", 2},
      {"loop", [](auto& i) { link_chain(i, kFat, {5, 6}, 5); }, no_failures, 5, 3 * kCluster, "0", 2},
      {"unreadable FAT entry inside the needed part is dropped", fragmented,
       [](MemorySource& s) { s.fail_range(kFat + 4 * 101, 4, SourceError::device_disconnected()); }, 100, 10000,
       "0", 2},
      {"unreadable FAT entry past the needed part is never read", fragmented,
       [](MemorySource& s) { s.fail_range(kFat + 4 * 250, 4, SourceError::device_disconnected()); }, 100, 10000,
       "3", 2},
      {"empty file", fragmented, no_failures, 100, 0, "0", 0},
      {"first cluster outside the volume", fragmented, no_failures, 100002, 10000, "0", 0},
      {"65,537 clusters: more than any chain holds, no FAT read",
       [](auto& i) { link_chain(i, kFat, cluster_run(2, 70000), kFat32End); }, no_failures, 2,
       std::uint64_t{65537} * kCluster, "0", 0},
      {"exactly 65,536 clusters", [](auto& i) { link_chain(i, kFat, cluster_run(2, 70000), kFat32End); },
       no_failures, 2, std::uint64_t{65536} * kCluster, "65536", 65536},
      // At the cap the walk reads the last cluster's entry as a full walk does: here it lies past the image.
      {"65,536 clusters, last entry unreadable",
       [](auto& i) {
         link_chain(i, kFat, cluster_run(2, 65536), kFat32End);
         i.resize(i.size() - 4);
       },
       no_failures, 2, std::uint64_t{65536} * kCluster, "0", 65536},
      {"65,535 clusters, the entry after them unreadable",
       [](auto& i) {
         link_chain(i, kFat, cluster_run(2, 65536), kFat32End);
         i.resize(i.size() - 4);
       },
       no_failures, 2, std::uint64_t{65535} * kCluster, "65535", 65534},
  };
  for (const CountCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> image(kFat + 4096, 0);
    c.layout(image);
    MemorySource source(image);
    c.failures(source);
    DeletedChainMemo memo;
    EXPECT_EQ(text(deleted_file_offset_count(source, kFat32, c.first, c.size, memo)), c.count);
    EXPECT_EQ(source.read_count(), c.reads);
  }
}

TEST(DeletedFileOffsetCount, MappingErrorsAreReturned) {
  std::vector<std::uint8_t> image(kFat + 4096, 0);
  link_chain(image, kFat, {100, 101}, kFat32End);
  MemorySource source(image);
  Fat32Volume volume = kFat32;
  volume.data_offset = UINT64_MAX - 200 * kCluster;  // cluster 101 still maps, 250 would not
  DeletedChainMemo memo;
  EXPECT_EQ(text(deleted_file_offset_count(source, volume, 100, 2 * kCluster, memo)), "2");
  volume.data_offset = UINT64_MAX - 98 * kCluster;  // cluster 100 maps, 101 overflows
  EXPECT_EQ(text(deleted_file_offset_count(source, volume, 100, 2 * kCluster, memo)), "byte range overflow");
  EXPECT_EQ(text(deleted_file_offset_count(source, volume, 100, kCluster, memo)), "1");
  volume.sectors_per_cluster = 1u << 24;  // 8 GiB clusters do not fit 32 bits
  EXPECT_EQ(text(deleted_file_offset_count(source, volume, 100, 1, memo)), "byte range overflow");
}

TEST(DeletedFileOffsetCount, ExfatRules) {
  struct Case {
    const char* what;
    std::vector<std::uint32_t> chain;
    std::uint32_t end;
    std::uint64_t size;
    bool no_fat_chain;
    std::string count;
    std::size_t reads;
  };
  const std::vector<Case> cases = {
      {"intact chain", {5, 6, 7}, kExfatEnd, 3 * kCluster, false, "3", 2},
      {"NoFatChain: the FAT is not read", {5, 6, 7}, kExfatEnd, 3 * kCluster, true, "0", 0},
      {"chain ends after two of three clusters", {5, 6}, kExfatEnd, 3 * kCluster, false, "0", 2},
      {"stray cluster beyond the heap inside the file", {5, 1000}, kExfatEnd, 2 * kCluster, false,
       "invalid structure: exFAT cluster outside heap", 1},
      {"stray cluster after the file's clusters", {5, 6, 1000}, kExfatEnd, 2 * kCluster, false, "2", 1},
      {"first cluster beyond the heap", {1000}, kExfatEnd, kCluster, false,
       "invalid structure: exFAT cluster outside heap", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> image(kFat + 8192, 0);
    link_chain(image, kFat, c.chain, c.end);
    MemorySource source(image);
    DeletedChainMemo memo;
    EXPECT_EQ(text(deleted_file_offset_count(source, kExfat, c.chain[0], c.size, c.no_fat_chain, memo)), c.count);
    EXPECT_EQ(source.read_count(), c.reads);
  }
}

TEST(DeletedChainMemo, RepeatedStartIsNotWalkedAgain) {
  std::vector<std::uint8_t> image(kFat + 4096, 0);
  link_chain(image, kFat, {100, 101, 250}, kFat32End);
  link_chain(image, kFat, {300, 301}, kFat32End);
  MemorySource source(image);
  DeletedChainMemo memo;

  EXPECT_EQ(text(deleted_file_offset_count(source, kFat32, 100, 10000, memo)), "3");
  const std::size_t after_first = source.read_count();
  EXPECT_EQ(text(deleted_file_offset_count(source, kFat32, 100, 10000, memo)), "3");
  EXPECT_EQ(text(deleted_file_offset_count(source, kFat32, 100, 5000, memo)), "2");
  EXPECT_EQ(text(deleted_file_offset_count(source, kFat32, 100, 1, memo)), "1");
  EXPECT_EQ(source.read_count(), after_first);
  EXPECT_EQ(memo.size(), 1u);

  // A chain that ended is known to end: a larger need is answered without a walk.
  EXPECT_EQ(text(deleted_file_offset_count(source, kFat32, 300, 3 * kCluster, memo)), "0");
  const std::size_t after_end = source.read_count();
  EXPECT_EQ(text(deleted_file_offset_count(source, kFat32, 300, 9 * kCluster, memo)), "0");
  EXPECT_EQ(text(deleted_file_offset_count(source, kFat32, 300, 2 * kCluster, memo)), "2");
  EXPECT_EQ(source.read_count(), after_end);
  EXPECT_EQ(memo.size(), 2u);

  // NoFatChain files never reach the memo.
  EXPECT_EQ(text(deleted_file_offset_count(source, kExfat, 100, 10000, true, memo)), "0");
  EXPECT_EQ(source.read_count(), after_end);
}

TEST(DeletedChainMemo, GrowingNeedsForOneStartStayCheap) {
  constexpr std::uint32_t kFiles = 2000;
  std::vector<std::uint8_t> image;
  link_chain(image, kFat, cluster_run(100, 3000), kFat32End);
  MemorySource source(image);
  DeletedChainMemo memo;
  for (std::uint32_t need = 1; need <= kFiles; ++need) {
    ASSERT_EQ(text(deleted_file_offset_count(source, kFat32, 100, std::uint64_t{need} * kCluster, memo)),
              std::to_string(need));
  }
  // Walking afresh for every larger need would read about kFiles^2 / 2 entries.
  EXPECT_LE(source.read_count(), 4 * kFiles);
  EXPECT_EQ(memo.size(), 1u);
}

TEST(DeletedChainMemo, RemembersWhereAWalkFailed) {
  std::vector<std::uint8_t> image(kFat + 4096, 0);
  link_chain(image, kFat, {100, 101, 102}, kFat32End);
  MemorySource source(image);
  source.fail_range(kFat + 4 * 101, 4, SourceError::device_disconnected());
  DeletedChainMemo memo;
  EXPECT_EQ(text(deleted_file_offset_count(source, kFat32, 100, 3 * kCluster, memo)), "0");
  const std::size_t reads = source.read_count();
  // Two clusters need only the entry of cluster 100, which was read.
  EXPECT_EQ(text(deleted_file_offset_count(source, kFat32, 100, 2 * kCluster, memo)), "2");
  EXPECT_EQ(text(deleted_file_offset_count(source, kFat32, 100, 4 * kCluster, memo)), "0");
  EXPECT_EQ(source.read_count(), reads);
}

TEST(DeletedChainMemo, ServesOneVolumeAtATime) {
  constexpr std::uint64_t kOtherFat = 8192;
  std::vector<std::uint8_t> image(kOtherFat + 4096, 0);
  link_chain(image, kFat, {100, 101, 102}, kFat32End);
  link_chain(image, kOtherFat, {100}, kFat32End);
  MemorySource source(image);
  Fat32Volume other = kFat32;
  other.fat_offset = kOtherFat;
  DeletedChainMemo memo;
  EXPECT_EQ(text(deleted_file_offset_count(source, kFat32, 100, 3 * kCluster, memo)), "3");
  EXPECT_EQ(text(deleted_file_offset_count(source, other, 100, 3 * kCluster, memo)), "0");
  EXPECT_EQ(text(deleted_file_offset_count(source, kFat32, 100, 3 * kCluster, memo)), "3");
}

// Any order of files sharing start clusters gets the answers each file would get alone.
TEST(DeletedChainMemo, SharedAnswersEqualFreshAnswers) {
  std::vector<std::uint8_t> image(kFat + 4 * 5000, 0);
  link_chain(image, kFat, cluster_run(10, 300), kFat32End);                // long chain
  link_chain(image, kFat, {400, 401, 402, 403}, 400);                      // loop
  link_chain(image, kFat, {500, 501, 502, 503, 504, 505}, kFat32End);      // entry of 503 unreadable
  link_chain(image, kFat, {600, 601, 4000, 602}, kFat32End);               // exFAT stray (heap of 100... see below)
  link_chain(image, kFat, {700, 701}, 0);                                  // cleared
  const std::vector<std::uint32_t> starts = {10, 11, 150, 400, 402, 500, 501, 600, 700, 701, 800};

  const auto run = [&](auto volume, auto count_with) {
    MemorySource source(image);
    source.fail_range(kFat + 4 * 503, 4, SourceError::device_disconnected());
    DeletedChainMemo shared;
    std::mt19937 random(20240607);
    for (int i = 0; i < 3000; ++i) {
      const std::uint32_t first = starts[random() % starts.size()];
      const std::uint64_t size = 1 + random() % (std::uint64_t{320} * kCluster);
      DeletedChainMemo fresh;
      const std::string alone = text(count_with(source, volume, first, size, fresh));
      ASSERT_EQ(text(count_with(source, volume, first, size, shared)), alone) << first << " " << size;
    }
    EXPECT_LE(shared.size(), starts.size());
  };
  run(kFat32, [](ByteSource& s, const Fat32Volume& v, std::uint32_t first, std::uint64_t size,
                 DeletedChainMemo& memo) { return deleted_file_offset_count(s, v, first, size, memo); });
  const ExfatVolume exfat{kFat, 1u << 20, 512, 8, 3000};
  run(exfat, [](ByteSource& s, const ExfatVolume& v, std::uint32_t first, std::uint64_t size,
                DeletedChainMemo& memo) { return deleted_file_offset_count(s, v, first, size, false, memo); });
}

TEST(DeletedFileClusterOffsets, SameRulesAsTheCount) {
  std::vector<std::uint8_t> image(kFat + 8192, 0);
  link_chain(image, kFat, {100, 101, 250}, kFat32End);
  link_chain(image, kFat, {5, 1000}, kExfatEnd);
  MemorySource source(image);
  const auto at = [](std::uint32_t cluster) { return (1u << 20) + std::uint64_t{cluster - 2} * kCluster; };

  auto three = deleted_file_cluster_offsets(source, kFat32, 100, 10000);
  ASSERT_TRUE(three);
  EXPECT_EQ(*three, (std::vector<std::uint64_t>{at(100), at(101), at(250)}));
  auto one = deleted_file_cluster_offsets(source, kFat32, 100, 4096);
  ASSERT_TRUE(one);
  EXPECT_EQ(*one, std::vector<std::uint64_t>{at(100)});
  auto cleared = deleted_file_cluster_offsets(source, kFat32, 101, 10000);
  ASSERT_TRUE(cleared);
  EXPECT_TRUE(cleared->empty());

  const ExfatVolume large_heap{kFat, 1u << 20, 512, 8, 300};
  auto exfat = deleted_file_cluster_offsets(source, large_heap, 100, 10000, false);
  ASSERT_TRUE(exfat);
  EXPECT_EQ(*exfat, (std::vector<std::uint64_t>{at(100), at(101), at(250)}));
  auto no_chain = deleted_file_cluster_offsets(source, kExfat, 100, 10000, true);
  ASSERT_TRUE(no_chain);
  EXPECT_TRUE(no_chain->empty());
  EXPECT_EQ(deleted_file_cluster_offsets(source, kExfat, 5, 8192, false).error().display(),
            "invalid structure: exFAT cluster outside heap");
}

}  // namespace
}  // namespace kestrel::testing
