// Rebuilding start clusters whose high word FAT32 deletion cleared, along a
// run of consecutive deleted entries.
#include "recovery-core/fat/fat32_start_cluster.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kestrel {
namespace {

struct Step {
  std::uint16_t high;
  std::uint16_t low;
  std::uint64_t size;
  std::uint32_t expected;
};

struct RunCase {
  const char* label;
  std::uint32_t cluster_count;
  std::vector<Step> steps;
};

TEST(Fat32StartCluster, RunsOfDeletedEntries) {
  const std::vector<RunCase> cases = {
      // The first entry sets the floor to 0x12; the second is raised past it
      // by one band; the third repeats the low word and shares the cluster.
      {"raised past the floor",
       200000,
       {{0, 0x0010, 8192, 0x0010}, {0, 0x0005, 4096, 65541}, {0, 0x0005, 4096, 65541}}},
      // One band up would leave the volume: the low word stays, below the floor.
      {"raising would leave the volume",
       60000,
       {{0, 0x0010, 8192, 0x0010}, {0, 0x0005, 4096, 0x0005}}},
      // A retained high word is taken as it is and still extends the run.
      {"high word kept", 200000, {{1, 0x0000, 4096, 65536}, {0, 0x0100, 512, 65536 + 0x0100}}},
      // Raised by two bands when one is not enough.
      {"two bands", 300000, {{2, 0x0000, 4096, 131072}, {0, 0x0009, 4096, 131072 + 9}}},
      // Cluster 0 is returned for the caller to skip.
      {"cluster zero", 1000, {{0, 0x0000, 10, 0}}},
      // A cluster beyond the volume is returned and resets the run, so the
      // next entry is not raised past the old floor.
      {"beyond the volume resets the run",
       200000,
       {{0, 0x0010, 8192, 0x0010}, {0x0010, 0x0000, 10, 0x100000}, {0, 0x0005, 10, 5}}},
      // The floor only grows: a later, lower extent does not lower it.
      {"floor keeps the highest extent",
       300000,
       {{2, 0x0000, 4096, 131072}, {1, 0x0000, 4096, 65536}, {0, 0x0005, 4096, 131077}}},
  };
  for (const RunCase& c : cases) {
    DeletedRunState state;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const Step& step = c.steps[i];
      EXPECT_EQ(
          reconstruct_start_cluster(state, step.high, step.low, step.size, 4096, c.cluster_count),
          step.expected)
          << c.label << ", entry " << i;
    }
  }
}

TEST(Fat32StartCluster, StateAfterTheWorkedExample) {
  DeletedRunState state;
  reconstruct_start_cluster(state, 0, 0x0010, 8192, 4096, 200000);
  EXPECT_TRUE(state.has_floor);
  EXPECT_EQ(state.floor, 0x0012u);
  EXPECT_EQ(state.previous_low, 0x0010);
  EXPECT_EQ(state.previous_cluster, 0x0010u);
  reconstruct_start_cluster(state, 0, 0x0005, 4096, 4096, 200000);
  EXPECT_EQ(state.floor, 65542u);
  EXPECT_EQ(state.previous_cluster, 65541u);
}

TEST(Fat32StartCluster, NearTheTopOfTheClusterRange) {
  // The limit saturates at 2^32 - 1 and raising stops before it.
  DeletedRunState state;
  state.has_floor = true;
  state.floor = 0xFFFFFFF0u;
  const std::uint32_t cluster =
      reconstruct_start_cluster(state, 0, 0x0005, 4096, 4096, 0xFFFFFFFFu);
  EXPECT_EQ(cluster, 0xFFFF0005u);
  EXPECT_EQ(state.floor, 0xFFFFFFF0u);  // end 0xFFFF0006 is below the old floor

  // The extent end saturates instead of wrapping.
  DeletedRunState wide;
  EXPECT_EQ(
      reconstruct_start_cluster(wide, 0xFFFF, 0xFFF0, std::uint64_t{1} << 40, 512, 0xFFFFFFFFu),
      0xFFFFFFF0u);
  EXPECT_EQ(wide.floor, 0xFFFFFFFFu);
}

TEST(Fat32StartCluster, UsableClusters) {
  EXPECT_FALSE(is_usable_start_cluster(0, 100));
  EXPECT_FALSE(is_usable_start_cluster(1, 100));
  EXPECT_TRUE(is_usable_start_cluster(2, 100));
  EXPECT_TRUE(is_usable_start_cluster(101, 100));
  EXPECT_FALSE(is_usable_start_cluster(102, 100));
}

}  // namespace
}  // namespace kestrel
