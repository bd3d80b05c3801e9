// Times the planner of --untangle on volumes no card would hold, to show that
// its work follows its bounds, not what the entries claim:
//
//   kestrel_untangle_bench
//
// - "interleaved": 65,536 deleted files (the most a volume plans), pairs of
//   photos written into each other's holes, older one-cluster entries under
//   them, every other cluster in use: every file walks, none is planned;
// - "long runs": 65,536 deleted files each claiming 65,536 clusters, their
//   first clusters 4,096 apart, no cluster in use: each walk looks at 4,096
//   clusters before the next file's start stops it, and the budget of
//   looked-at clusters ends the volume's planning;
// - "one start": 65,536 entries on one first cluster;
// - "too many": 1,000,000 deleted entries: nothing is planned at once.
//
// Output: one "RESULT <name> <entries> <seconds> <planned>" line per case.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "recovery-core/candidates/file_pieces.hpp"
#include "recovery-core/chains/untangle_plan.hpp"

namespace {

using kestrel::ClusterUse;
using kestrel::EntryRun;
using kestrel::RunRole;
using kestrel::StartEvidence;

// Every odd cluster in use.
class OddClustersHeld final : public ClusterUse {
 public:
  bool held(std::uint32_t cluster) override { return cluster % 2 == 1; }
};

// No cluster in use.
class NoClustersHeld final : public ClusterUse {
 public:
  bool held(std::uint32_t) override { return false; }
};

std::string minute(std::uint32_t m) {
  char text[32];
  std::snprintf(text, sizeof text, "2024-05-03T%02u:%02u:00", (m / 60) % 24, m % 60);
  return text;
}

std::vector<EntryRun> interleaved() {
  std::vector<EntryRun> entries;
  entries.reserve(kestrel::kMaxUntangledFiles);
  for (std::uint32_t pair = 0; entries.size() + 4 <= kestrel::kMaxUntangledFiles; ++pair) {
    const std::uint32_t base = 2 + pair * 16;
    entries.push_back({base, 1, minute(0), StartEvidence::Gone, RunRole::Walks});
    entries.push_back({base + 2, 1, minute(0), StartEvidence::Gone, RunRole::Walks});
    entries.push_back({base, 4, minute(1), StartEvidence::Present, RunRole::Walks});
    entries.push_back({base + 2, 4, minute(2), StartEvidence::Present, RunRole::Walks});
  }
  return entries;
}

std::vector<EntryRun> long_runs() {
  std::vector<EntryRun> entries;
  entries.reserve(kestrel::kMaxUntangledFiles);
  for (std::uint32_t i = 0; i < kestrel::kMaxUntangledFiles; ++i)
    entries.push_back(
        {2 + i, kestrel::kMaxWalkClusters, minute(i), StartEvidence::Present, RunRole::Walks});
  return entries;
}

std::vector<EntryRun> one_start() {
  return std::vector<EntryRun>(kestrel::kMaxUntangledFiles,
                               {100, 8, minute(3), StartEvidence::Present, RunRole::Walks});
}

std::vector<EntryRun> too_many() {
  return std::vector<EntryRun>(1000000,
                               {100, 8, minute(3), StartEvidence::Present, RunRole::Walks});
}

void run(const char* name, const std::vector<EntryRun>& entries, ClusterUse& use) {
  const auto start = std::chrono::steady_clock::now();
  const auto plans =
      kestrel::plan_untangled_runs(entries, 0x0FFFFFF0, use, kestrel::kMaxFilePieces);
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  std::size_t planned = 0;
  for (const auto& plan : plans) planned += plan ? 1 : 0;
  std::printf("RESULT %s %zu %.3f %zu\n", name, entries.size(), seconds.count(), planned);
}

}  // namespace

int main() {
  OddClustersHeld odd;
  NoClustersHeld none;
  run("interleaved", interleaved(), odd);
  run("long-runs", long_runs(), none);
  run("one-start", one_start(), odd);
  run("too-many", too_many(), odd);
  return 0;
}
