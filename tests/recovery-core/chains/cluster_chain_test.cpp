#include "recovery-core/chains/cluster_chain.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "recovery-core/exfat/exfat_geometry.hpp"
#include "recovery-core/fat/fat_geometry.hpp"
#include "tests/support/fat_image.hpp"
#include "tests/support/memory_source.hpp"

namespace kestrel::testing {
namespace {

constexpr std::uint64_t kFat = 1024;
constexpr std::uint32_t kFat32End = 0x0FFFFFFF;
constexpr std::uint32_t kExfatEnd = 0xFFFFFFFF;

using Layout = std::function<void(std::vector<std::uint8_t>&)>;

struct ChainCase {
  const char* what;
  Layout layout;
  std::uint32_t first;
  std::vector<std::uint32_t> chain;
  std::size_t reads;  // FAT entries read
  std::uint32_t wanted = kMaxChainClusters;
};

std::vector<std::uint8_t> image_of(const Layout& layout) {
  std::vector<std::uint8_t> image(kFat + 4 * 1024, 0);
  layout(image);
  return image;
}

TEST(FollowFat32Chain, StopsWhereTheChainEnds) {
  constexpr std::uint32_t kClusters = 300;  // valid clusters 2..301
  const std::vector<ChainCase> cases = {
      {"intact fragmented chain",
       [](auto& i) { link_chain(i, kFat, {100, 101, 250}, kFat32End); },
       100,
       {100, 101, 250},
       3},
      {"end marker 0x0FFFFFF8",
       [](auto& i) { link_chain(i, kFat, {100, 101}, 0x0FFFFFF8); },
       100,
       {100, 101},
       2},
      {"entries cleared by deletion", [](auto&) {}, 100, {100}, 1},
      {"reserved entry 1", [](auto& i) { link_chain(i, kFat, {100, 101}, 1); }, 100, {100, 101}, 2},
      {"bad cluster",
       [](auto& i) { link_chain(i, kFat, {100, 101}, 0x0FFFFFF7); },
       100,
       {100, 101},
       2},
      {"top four bits ignored",
       [](auto& i) { link_chain(i, kFat, {100, 101}, 0xF0000000 | kFat32End); },
       100,
       {100, 101},
       2},
      {"top four bits ignored in a link",
       [](auto& i) {
         set_fat_entry(i, kFat, 100, 0xF0000065);
         set_fat_entry(i, kFat, 101, kFat32End);
       },
       100,
       {100, 101},
       2},
      {"loop back to the first cluster",
       [](auto& i) { link_chain(i, kFat, {5, 6, 7}, 5); },
       5,
       {5, 6, 7},
       3},
      {"cluster pointing at itself", [](auto& i) { link_chain(i, kFat, {5}, 5); }, 5, {5}, 1},
      {"last valid cluster",
       [](auto& i) { link_chain(i, kFat, {100, 301}, kFat32End); },
       100,
       {100, 301},
       2},
      {"next cluster beyond the volume",
       [](auto& i) { link_chain(i, kFat, {100}, 302); },
       100,
       {100},
       1},
      {"first cluster 0", [](auto&) {}, 0, {}, 0},
      {"first cluster 1", [](auto&) {}, 1, {}, 0},
      {"first cluster beyond the volume", [](auto&) {}, 302, {}, 0},
      {"wanted reached: the last cluster's entry is not read",
       [](auto& i) { link_chain(i, kFat, {100, 101, 250}, kFat32End); },
       100,
       {100, 101},
       1,
       2},
      {"wanted beyond the chain",
       [](auto& i) { link_chain(i, kFat, {100, 101, 250}, kFat32End); },
       100,
       {100, 101, 250},
       3,
       10},
  };
  for (const ChainCase& c : cases) {
    SCOPED_TRACE(c.what);
    MemorySource source(image_of(c.layout));
    auto chain = follow_fat32_chain(source, kFat, kClusters, c.first, c.wanted);
    ASSERT_TRUE(chain) << chain.error().message();
    EXPECT_EQ(*chain, c.chain);
    EXPECT_EQ(source.read_count(), c.reads);
  }
}

TEST(FollowExfatChain, StopsWhereTheChainEnds) {
  const std::vector<ChainCase> cases = {
      {"2 then end", [](auto& i) { set_fat_entry(i, kFat, 2, 0xFFFFFFF8); }, 2, {2}, 1},
      {"three clusters",
       [](auto& i) { link_chain(i, kFat, {5, 6, 7}, kExfatEnd); },
       5,
       {5, 6, 7},
       3},
      {"free entry", [](auto& i) { link_chain(i, kFat, {5, 6}, 0); }, 5, {5, 6}, 2},
      {"bad entry", [](auto& i) { link_chain(i, kFat, {5, 6}, 0xFFFFFFF7); }, 5, {5, 6}, 2},
      {"no bound by the cluster count: a stray entry is kept",
       [](auto& i) { link_chain(i, kFat, {5, 1000}, kExfatEnd); },
       5,
       {5, 1000},
       2},
      {"loop", [](auto& i) { link_chain(i, kFat, {5, 6}, 5); }, 5, {5, 6}, 2},
      {"first cluster 1", [](auto&) {}, 1, {}, 0},
      {"first cluster 0xFFFFFFF8", [](auto&) {}, 0xFFFFFFF8, {}, 0},
      {"wanted reached", [](auto& i) { link_chain(i, kFat, {5, 6, 7}, kExfatEnd); }, 5, {5}, 0, 1},
  };
  for (const ChainCase& c : cases) {
    SCOPED_TRACE(c.what);
    MemorySource source(image_of(c.layout));
    auto chain = follow_exfat_chain(source, kFat, c.first, c.wanted);
    ASSERT_TRUE(chain) << chain.error().message();
    EXPECT_EQ(*chain, c.chain);
    EXPECT_EQ(source.read_count(), c.reads);
  }
}

TEST(FollowChains, CapAt65536Clusters) {
  std::vector<std::uint8_t> image;
  link_chain(image, kFat, cluster_run(2, 70000), kFat32End);
  MemorySource source(image);
  auto fat32 = follow_fat32_chain(source, kFat, 100000, 2);
  ASSERT_TRUE(fat32);
  EXPECT_EQ(*fat32, cluster_run(2, kMaxChainClusters));
  // A full walk reads the entry of its last cluster too before it stops at the cap.
  EXPECT_EQ(source.read_count(), kMaxChainClusters);

  auto exfat = follow_exfat_chain(source, kFat, 2);
  ASSERT_TRUE(exfat);
  EXPECT_EQ(exfat->size(), kMaxChainClusters);
  // Asking for more than the cap still gets the cap.
  auto more = follow_exfat_chain(source, kFat, 2, 100000);
  ASSERT_TRUE(more);
  EXPECT_EQ(more->size(), kMaxChainClusters);
}

TEST(FollowChains, UnreadableEntriesAreErrors) {
  {
    std::vector<std::uint8_t> image;
    link_chain(image, kFat, {100, 101, 250}, kFat32End);
    MemorySource source(image);
    source.fail_range(kFat + 4 * 101, 4, SourceError::device_disconnected());
    EXPECT_EQ(follow_fat32_chain(source, kFat, 300, 100).error().message(),
              "device disconnected during read");
    EXPECT_EQ(follow_exfat_chain(source, kFat, 100).error().message(),
              "device disconnected during read");
  }
  {
    // The FAT ends inside the chain: the entry of cluster 101 lies past the image.
    std::vector<std::uint8_t> image;
    set_fat_entry(image, kFat, 100, 101);
    MemorySource source(image);
    EXPECT_EQ(follow_fat32_chain(source, kFat, 300, 100).error().message(),
              "short read: expected=4 actual=0");
  }
  {
    // A saturated cluster limit admits cluster 0xFFFFFFFE, whose entry is far past the image.
    MemorySource source(std::vector<std::uint8_t>(4096, 0));
    EXPECT_EQ(follow_fat32_chain(source, kFat, 0xFFFFFFFF, 0xFFFFFFFE).error().message(),
              "short read: expected=4 actual=0");
    EXPECT_EQ(follow_fat32_chain(source, UINT64_MAX - 4, 300, 2).error().message(),
              "byte range overflow");
    EXPECT_EQ(follow_exfat_chain(source, UINT64_MAX - 4, 0xFFFFFFF7).error().message(),
              "byte range overflow");
  }
}

TEST(ClusterArithmetic, SizesOffsetsAndCounts) {
  const FatGeometry fat32{16384, 1048576, 1, 512, 8, 300};
  const ExfatGeometry exfat{8192, 65536, 4096, 8, 100};

  EXPECT_EQ(cluster_size(fat32), 4096u);
  EXPECT_EQ(cluster_size(exfat), 32768u);
  EXPECT_EQ(cluster_size(FatGeometry{0, 0, 1, 0x10000, 0xFFFF, 1}), 0xFFFF0000u);
  EXPECT_EQ(cluster_size(FatGeometry{0, 0, 1, 0x10000, 0x10000, 1}).error().message(),
            "byte range overflow");
  EXPECT_EQ(cluster_size(ExfatGeometry{0, 0, 4096, 1u << 20, 1}).error().message(),
            "byte range overflow");

  struct OffsetCase {
    std::uint32_t cluster;
    std::string fat32;
    std::string exfat;
  };
  const std::vector<OffsetCase> offsets = {
      {2, "1048576", "65536"},
      {3, "1052672", "98304"},
      {101, "1454080", "3309568"},
      {301, "2273280", "invalid structure: exFAT cluster outside heap"},
      {302, "invalid structure: FAT32 cluster outside data area",
       "invalid structure: exFAT cluster outside heap"},
      {1, "invalid structure: FAT32 cluster outside data area",
       "invalid structure: exFAT cluster outside heap"},
      {0, "invalid structure: FAT32 cluster outside data area",
       "invalid structure: exFAT cluster outside heap"},
  };
  const auto text = [](const std::expected<std::uint64_t, RecoveryError>& r) {
    return r ? std::to_string(*r) : r.error().message();
  };
  for (const OffsetCase& c : offsets) {
    SCOPED_TRACE(c.cluster);
    EXPECT_EQ(text(cluster_offset(fat32, c.cluster)), c.fat32);
    EXPECT_EQ(text(cluster_offset(exfat, c.cluster)), c.exfat);
  }
  EXPECT_EQ(text(cluster_offset(FatGeometry{0, UINT64_MAX - 4095, 1, 512, 8, 10}, 3)),
            "byte range overflow");
  EXPECT_EQ(text(cluster_offset(ExfatGeometry{0, 0, 512, 8, 0xFFFFFFFF}, 0xFFFFFFFE)),
            "17592186028032");

  struct NeededCase {
    std::uint64_t size;
    std::uint32_t cluster;
    std::uint32_t needed;
  };
  const std::vector<NeededCase> needed = {
      {0, 4096, 0},
      {1, 4096, 1},
      {4096, 4096, 1},
      {4097, 4096, 2},
      {10000, 4096, 3},
      {UINT64_MAX, 1, 0xFFFFFFFF},
      {UINT64_MAX, 0x80000000u, 0xFFFFFFFF},
      {5, 0, 0xFFFFFFFF},
  };
  for (const NeededCase& c : needed)
    EXPECT_EQ(clusters_needed(c.size, c.cluster), c.needed) << c.size;
}

TEST(MapClusterOffsets, FirstNeededClustersInOrder) {
  const FatGeometry fat32{16384, 1048576, 1, 512, 8, 300};
  auto offsets = map_cluster_offsets({100, 101, 250, 251}, 3, cluster_area(fat32));
  ASSERT_TRUE(offsets);
  EXPECT_EQ(*offsets, (std::vector<std::uint64_t>{1048576 + 98 * 4096, 1048576 + 99 * 4096,
                                                  1048576 + 248 * 4096}));
  EXPECT_EQ(map_cluster_offsets({100, 101}, 3, cluster_area(fat32)).error().message(),
            "invalid structure: cluster chain is shorter than the file");

  // An exFAT chain may carry a stray cluster; it fails only when it is mapped.
  const ExfatGeometry exfat{8192, 65536, 512, 1, 100};
  EXPECT_TRUE(map_cluster_offsets({5, 1000}, 1, cluster_area(exfat)));
  EXPECT_EQ(map_cluster_offsets({5, 1000}, 2, cluster_area(exfat)).error().message(),
            "invalid structure: exFAT cluster outside heap");
}

}  // namespace
}  // namespace kestrel::testing
