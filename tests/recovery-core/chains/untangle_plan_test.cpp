// The planner of deleted files whose chains are gone (--untangle), over
// histories small enough to follow by hand: which files it plans around
// which clusters, and where the entries cannot tell and it must plan nothing.
#include "recovery-core/chains/untangle_plan.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace kestrel {
namespace {

using Plans = std::vector<std::optional<std::vector<ClusterSpan>>>;

class HeldClusters final : public ClusterUse {
 public:
  explicit HeldClusters(std::set<std::uint32_t> held) : held_(std::move(held)) {}
  bool held(std::uint32_t cluster) override { return held_.contains(cluster); }

 private:
  std::set<std::uint32_t> held_;
};

std::string minute(int m) {
  return "2024-05-03T10:" + std::string(m < 10 ? "0" : "") + std::to_string(m) + ":00";
}

EntryRun entry(std::uint32_t first, std::uint32_t clusters, std::optional<int> created,
               StartEvidence start, RunRole role = RunRole::Walks) {
  return EntryRun{first, clusters, created ? std::optional(minute(*created)) : std::nullopt, start,
                  role};
}

constexpr auto kPresent = StartEvidence::Present;
constexpr auto kGone = StartEvidence::Gone;
constexpr auto kUnknown = StartEvidence::Unknown;

struct PlanCase {
  const char* what;
  std::vector<EntryRun> entries;
  std::set<std::uint32_t> held;
  Plans expected;
  std::size_t max_spans = 64;
};

void PrintTo(const PlanCase& c, std::ostream* out) { *out << c.what; }

std::vector<ClusterSpan> spans(std::initializer_list<ClusterSpan> list) { return list; }

class UntanglePlan : public ::testing::TestWithParam<PlanCase> {};

TEST_P(UntanglePlan, DecidesAsTheEntriesTell) {
  const PlanCase& c = GetParam();
  HeldClusters use(c.held);
  EXPECT_EQ(plan_untangled_runs(c.entries, 1000, use, c.max_spans), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Histories, UntanglePlan,
    ::testing::Values(
        // A photo written into a one-cluster hole and on past a photo (deleted
        // later, its header still at its start) and a live file.
        PlanCase{"around an older whole file and a live one",
                 {entry(10, 4, 5, kPresent), entry(11, 3, 1, kPresent)},
                 {14},
                 {spans({{10, 1}, {15, 3}}), std::nullopt}},
        // The same, but the file passed over is text: whether its first
        // cluster is still its own cannot be seen.
        PlanCase{"an older file of unknown content in the way",
                 {entry(10, 4, 5, kPresent), entry(11, 3, 1, kUnknown)},
                 {14},
                 {std::nullopt, std::nullopt}},
        // Two files written at once: the second looks whole from its start,
        // yet the first runs into it with the same creation time.
        PlanCase{"two files made at the same time",
                 {entry(10, 4, 5, kPresent), entry(11, 4, 5, kPresent)},
                 {},
                 {std::nullopt, std::nullopt}},
        // Older one-cluster files whose data is gone lie under both newer
        // files' walks: each walk would take the other's clusters.
        PlanCase{
            "two newer files over the same older holes",
            {entry(10, 1, 1, kGone), entry(11, 1, 1, kGone), entry(12, 1, 1, kGone),
             entry(13, 1, 1, kGone), entry(10, 3, 5, kPresent), entry(11, 3, 6, kPresent)},
            {},
            {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}},
        // A newer file went on over an older deleted one: the older start
        // holds no header any more, so the newer file takes it and the older
        // entry is not planned.
        PlanCase{"over an older file whose start is gone",
                 {entry(10, 1, 1, kGone), entry(12, 3, 2, kGone), entry(10, 4, 5, kPresent)},
                 {11},
                 {std::nullopt, std::nullopt, spans({{10, 1}, {12, 3}})}},
        // A newer file passes a first cluster held, when it was written, by
        // an older file since deleted, and now by a newer one that holds.
        PlanCase{"around a newer file written where an older one was",
                 {entry(20, 4, 5, kPresent), entry(22, 1, 1, kGone), entry(22, 1, 7, kPresent),
                  entry(21, 1, 2, kPresent, RunRole::Fixed)},
                 {21},
                 {spans({{20, 1}, {23, 3}}), std::nullopt, std::nullopt, std::nullopt}},
        // The same without the older entry: nothing says the cluster was held
        // when the first file was written.
        PlanCase{"around a newer file with nothing older there",
                 {entry(20, 4, 5, kPresent), entry(22, 1, 7, kPresent)},
                 {21},
                 {std::nullopt, std::nullopt}},
        // Without creation times nothing can be put in order.
        PlanCase{"entries without creation times",
                 {entry(10, 4, std::nullopt, kPresent), entry(11, 3, std::nullopt, kPresent)},
                 {14},
                 {std::nullopt, std::nullopt}},
        // Two entries on one first cluster made at the same moment: neither
        // owns it, and a walk that comes to it stops.
        PlanCase{"a first cluster two entries share",
                 {entry(10, 3, 5, kPresent), entry(12, 1, 1, kPresent), entry(12, 1, 1, kPresent)},
                 {11},
                 {std::nullopt, std::nullopt, std::nullopt}},
        // A walk that needs more spans than allowed is not planned.
        PlanCase{
            "more spans than allowed", {entry(10, 3, 5, kPresent)}, {11, 13}, {std::nullopt}, 2},
        // A walk that leaves the volume is not planned.
        PlanCase{"past the last cluster", {entry(998, 4, 5, kPresent)}, {999}, {std::nullopt}},
        // A file whose own start shows another file's data is never planned.
        PlanCase{"a file whose start is gone", {entry(10, 3, 5, kGone)}, {11}, {std::nullopt}},
        // A file whose chain is kept takes no part beyond its first cluster.
        PlanCase{"a kept chain's start in the way",
                 {entry(10, 3, 5, kPresent), entry(11, 2, 1, kPresent, RunRole::Fixed)},
                 {12},
                 {std::nullopt, std::nullopt}},
        // A walk that passed over another file's start fails with that
        // file's walk: the first walk passes the newer file's start (an
        // older entry says it was held then) and the run of a file newer
        // than it; the newer file's walk meets that run, older than it and of
        // unknown content, and stops.
        PlanCase{"a walk that relies on a walk that fails",
                 {entry(20, 2, 5, kPresent), entry(21, 1, 1, kGone), entry(21, 2, 7, kPresent),
                  entry(22, 1, 1, kGone), entry(22, 1, 6, kUnknown)},
                 {},
                 {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}}));

TEST(UntanglePlan, TooManyFilesPlansNothing) {
  std::vector<EntryRun> entries(kMaxUntangledFiles + 1, entry(10, 1, 1, kGone));
  entries.back() = entry(10, 4, 5, kPresent);
  HeldClusters use({11});
  const Plans plans = plan_untangled_runs(entries, 1000, use, 64);
  ASSERT_EQ(plans.size(), entries.size());
  EXPECT_FALSE(plans.back());
}

TEST(CreationOrder, OnlyTextsOfOnePrecisionAndZone) {
  const auto order = [](const char* a, const char* b) {
    return creation_order(std::string(a), std::string(b));
  };
  EXPECT_EQ(order("2024-05-03T10:00:00", "2024-05-03T10:00:02"), std::strong_ordering::less);
  EXPECT_EQ(order("2024-05-03T10:00:00.50+09:00", "2024-05-03T10:00:00.10+09:00"),
            std::strong_ordering::greater);
  EXPECT_EQ(order("2024-05-03T10:00:00", "2024-05-03T10:00:00"), std::strong_ordering::equal);
  EXPECT_EQ(order("2024-05-03T10:00:00+09:00", "2024-05-03T10:00:00+00:00"), std::nullopt);
  EXPECT_EQ(order("2024-05-03T10:00:00", "2024-05-03T10:00:00.5"), std::nullopt);
  EXPECT_EQ(order("2024-05-03", "2024-05-04"), std::nullopt);
  EXPECT_EQ(creation_order(std::nullopt, std::string("2024-05-03T10:00:00")), std::nullopt);
}

}  // namespace
}  // namespace kestrel
