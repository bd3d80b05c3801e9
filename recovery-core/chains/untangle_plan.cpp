#include "recovery-core/chains/untangle_plan.hpp"

#include <algorithm>
#include <limits>
#include <numeric>

namespace kestrel {

namespace {

constexpr std::size_t kNobody = std::numeric_limits<std::size_t>::max();
// "YYYY-MM-DDTHH:MM:SS": the shortest creation text put in order.
constexpr std::size_t kSecondsLength = 19;
// More entries than this on one first cluster: none of them is its owner.
constexpr std::size_t kMaxSharedStart = 16;

// The part of a creation text after its seconds that is not the fraction:
// the zone ("+09:00", "Z") or nothing.
std::string_view zone_of(std::string_view text) {
  std::size_t at = kSecondsLength;
  if (at < text.size() && text[at] == '.') {
    ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
  }
  return text.substr(at);
}

// The entries that start at one cluster, and the one whose data is there:
// the newest of them (a newer file was written over the older ones), none
// where no single one is newest.
struct StartGroup {
  std::uint32_t cluster = 0;
  std::size_t begin = 0;  // into Planner::by_start_
  std::size_t end = 0;
  std::size_t owner = kNobody;
};

// A run an entry holds beyond doubt.
struct Claim {
  ClusterSpan span;
  std::size_t entry = 0;
};

// What a walk does at another file's first cluster.
enum class StartStep : std::uint8_t { Skip, Take, Refuse };

// One file's walk from its first cluster: the spans it took and the files
// whose first clusters it passed over (they must keep them for it to hold).
struct Walk {
  std::size_t entry = 0;
  std::vector<ClusterSpan> spans;
  std::vector<std::size_t> depends_on;
  bool holds = false;
};

class Planner {
 public:
  Planner(const std::vector<EntryRun>& entries, std::uint32_t cluster_count, ClusterUse& use,
          std::size_t max_spans)
      : entries_(entries),
        limit_(std::uint64_t{cluster_count} + 2),
        use_(use),
        max_spans_(std::min(max_spans, std::size_t{kMaxWalkClusters})) {}

  // Nothing when the volume's budget ran out before every file was decided.
  std::optional<std::vector<std::optional<std::vector<ClusterSpan>>>> plan() {
    group_starts();
    claimed_.assign(entries_.size(), false);
    for (std::size_t entry = 0; entry < entries_.size(); ++entry) {
      auto claims = claims_its_run(entry);
      if (!claims) return std::nullopt;
      if (*claims) {
        claimed_[entry] = true;
        claims_.push_back({{entries_[entry].first_cluster, entries_[entry].clusters}, entry});
      }
    }
    std::ranges::sort(claims_, {}, [](const Claim& claim) { return claim.span.first; });
    walk_of_.assign(entries_.size(), kNobody);
    for (std::size_t entry = 0; entry < entries_.size(); ++entry) {
      if (!walks(entry)) continue;
      auto walk = walk_from_start(entry);
      if (!walk) return std::nullopt;
      walk_of_[entry] = walks_.size();
      walks_.push_back(std::move(*walk));
    }
    drop_overlapping_walks();
    drop_walks_whose_skips_fail();
    std::vector<std::optional<std::vector<ClusterSpan>>> plans(entries_.size());
    for (Walk& walk : walks_) {
      if (walk.holds && walk.spans.size() >= 2) plans[walk.entry] = std::move(walk.spans);
    }
    return plans;
  }

 private:
  bool spend(std::uint64_t visits = 1) {
    if (kMaxUntangleVisits - visits_ < visits) return false;
    visits_ += visits;
    return true;
  }

  std::strong_ordering cluster_order(std::size_t a, std::size_t b) const {
    return entries_[a].first_cluster <=> entries_[b].first_cluster;
  }

  // Sorts the entries by first cluster and names each cluster's owner.
  void group_starts() {
    by_start_.resize(entries_.size());
    std::iota(by_start_.begin(), by_start_.end(), std::size_t{0});
    std::ranges::stable_sort(by_start_, [&](std::size_t a, std::size_t b) {
      return cluster_order(a, b) == std::strong_ordering::less;
    });
    group_of_.assign(entries_.size(), 0);
    for (std::size_t at = 0; at < by_start_.size();) {
      StartGroup group{entries_[by_start_[at]].first_cluster, at, at, kNobody};
      while (group.end < by_start_.size() &&
             entries_[by_start_[group.end]].first_cluster == group.cluster) {
        group_of_[by_start_[group.end]] = groups_.size();
        ++group.end;
      }
      group.owner = newest_of(group);
      at = group.end;
      groups_.push_back(group);
    }
  }

  std::size_t newest_of(const StartGroup& group) const {
    if (group.end - group.begin == 1) return by_start_[group.begin];
    if (group.end - group.begin > kMaxSharedStart) return kNobody;
    for (std::size_t at = group.begin; at < group.end; ++at) {
      const std::size_t candidate = by_start_[at];
      bool newest = true;
      for (std::size_t other = group.begin; other < group.end && newest; ++other) {
        if (other == at) continue;
        newest = creation_order(entries_[by_start_[other]].created, entries_[candidate].created) ==
                 std::strong_ordering::less;
      }
      if (newest) return candidate;
    }
    return kNobody;
  }

  bool owns_start(std::size_t entry) const { return groups_[group_of_[entry]].owner == entry; }

  // Whether the entry's own data can be where it says: it owns its first
  // cluster, whose content does not contradict its name, and its clusters fit.
  bool may_be_planned(std::size_t entry) const {
    const EntryRun& run = entries_[entry];
    return run.role != RunRole::Fixed && run.start != StartEvidence::Gone && owns_start(entry) &&
           run.clusters >= 1 && run.clusters <= kMaxWalkClusters && run.first_cluster >= 2 &&
           std::uint64_t{run.first_cluster} + run.clusters <= limit_;
  }

  bool older(std::size_t a, std::size_t b) const {
    return creation_order(entries_[a].created, entries_[b].created) == std::strong_ordering::less;
  }

  // What the walk of `walker` does at the first cluster of `group`, which
  // belongs to another file. The owner's data is there when the owner is
  // older and its content shows it; the walker wrote over it when the owner is
  // older and its content is gone; a newer owner was written into a cluster
  // that was held when the walker was written only if an older entry than the
  // walker starts there too. Anything else cannot be told.
  StartStep step_at_start(std::size_t walker, const StartGroup& group) const {
    const std::size_t owner = group.owner;
    if (owner == kNobody) return StartStep::Refuse;
    if (older(owner, walker)) {
      if (entries_[owner].start == StartEvidence::Present) return StartStep::Skip;
      if (entries_[owner].start == StartEvidence::Gone) return StartStep::Take;
      return StartStep::Refuse;
    }
    if (!older(walker, owner)) return StartStep::Refuse;
    for (std::size_t at = group.begin; at < group.end; ++at) {
      if (older(by_start_[at], walker)) return StartStep::Skip;
    }
    return StartStep::Refuse;
  }

  // Whether the entry's run from its first cluster is its own beyond doubt:
  // no other file starts inside it and no live file holds a cluster of it.
  // (A walk that comes to it must still agree, see walk_from_start.) Nothing
  // when the budget ran out.
  std::optional<bool> claims_its_run(std::size_t entry) {
    if (!may_be_planned(entry)) return false;
    const EntryRun& run = entries_[entry];
    const std::size_t group = group_of_[entry];
    const std::uint64_t end = std::uint64_t{run.first_cluster} + run.clusters;
    if (group + 1 < groups_.size() && groups_[group + 1].cluster < end) return false;
    if (!spend(run.clusters)) return std::nullopt;
    for (std::uint64_t cluster = run.first_cluster; cluster < end; ++cluster) {
      if (use_.held(static_cast<std::uint32_t>(cluster))) return false;
    }
    return true;
  }

  bool walks(std::size_t entry) const {
    return entries_[entry].role == RunRole::Walks && !claimed_[entry] && may_be_planned(entry);
  }

  // The first claimed span that ends past `cluster`, from `at` on.
  std::size_t claim_from(std::size_t at, std::uint32_t cluster) const {
    while (at < claims_.size() &&
           std::uint64_t{claims_[at].span.first} + claims_[at].span.count <= cluster)
      ++at;
    return at;
  }

  // What a walk does at one cluster.
  enum class Move : std::uint8_t { Take, Pass, PassRun, Refuse, OutOfBudget };

  // Where a walk stands: the next claimed run and the next first cluster.
  struct WalkPlace {
    std::size_t claim = 0;
    std::size_t group = 0;
  };

  // A cluster a live file holds is passed over, a claimed run too (PassRun)
  // when step_at_start at its first cluster says so, another file's first
  // cluster as step_at_start says (the walk then relies on that file's walk);
  // any other cluster is taken.
  Move move_at(std::size_t entry, std::uint32_t number, WalkPlace& place, Walk& walk) {
    place.claim = claim_from(place.claim, number);
    while (place.group < groups_.size() && groups_[place.group].cluster < number) ++place.group;
    if (place.claim < claims_.size() && claims_[place.claim].span.first <= number) {
      const Claim& passed = claims_[place.claim];
      const bool agrees = passed.span.first == number &&
                          step_at_start(entry, groups_[group_of_[passed.entry]]) == StartStep::Skip;
      return agrees ? Move::PassRun : Move::Refuse;
    }
    if (use_.held(number)) return Move::Pass;
    if (place.group == groups_.size() || groups_[place.group].cluster != number) return Move::Take;
    const StartGroup& start = groups_[place.group];
    switch (step_at_start(entry, start)) {
      case StartStep::Take:
        return Move::Take;
      case StartStep::Refuse:
        return Move::Refuse;
      case StartStep::Skip:
        break;
    }
    if (!walks(start.owner)) return Move::Refuse;
    if (records_ == kMaxUntangledSpans) return Move::OutOfBudget;
    walk.depends_on.push_back(start.owner);
    ++records_;
    return Move::Pass;
  }

  // Adds `number` to the walk's spans; false when the walk may not hold more.
  std::optional<bool> take(Walk& walk, std::uint32_t number) {
    if (!walk.spans.empty() &&
        std::uint64_t{walk.spans.back().first} + walk.spans.back().count == number) {
      ++walk.spans.back().count;
      return true;
    }
    if (walk.spans.size() == max_spans_) return false;
    if (records_ == kMaxUntangledSpans) return std::nullopt;
    walk.spans.push_back({number, 1});
    ++records_;
    return true;
  }

  // Walks the entry's clusters from its first on (see move_at), until it has
  // as many as its size needs. The walk does not hold when it meets a first
  // cluster it cannot decide, its own first cluster is in use, it leaves the
  // volume or it needs too many spans. Nothing when the budget (of clusters
  // looked at, or of spans and reliances held) ran out.
  std::optional<Walk> walk_from_start(std::size_t entry) {
    const EntryRun& run = entries_[entry];
    Walk walk{entry, {}, {}, true};
    if (!spend()) return std::nullopt;
    if (use_.held(run.first_cluster)) return refused(walk);
    // Claimed runs do not overlap, so their ends are in order too.
    const auto first_claim = std::ranges::partition_point(claims_, [&](const Claim& c) {
      return std::uint64_t{c.span.first} + c.span.count <= run.first_cluster;
    });
    WalkPlace place{static_cast<std::size_t>(first_claim - claims_.begin()), group_of_[entry] + 1};
    std::uint64_t cluster = run.first_cluster;
    for (std::uint32_t taken = 0, looked = 0; taken < run.clusters; ++looked, ++cluster) {
      if (cluster >= limit_ || looked == kMaxWalkClusters) return refused(walk);
      if (looked > 0 && !spend()) return std::nullopt;
      const auto number = static_cast<std::uint32_t>(cluster);
      const Move move = looked == 0 ? Move::Take : move_at(entry, number, place, walk);
      if (move == Move::OutOfBudget) return std::nullopt;
      if (move == Move::Refuse) return refused(walk);
      if (move == Move::PassRun) {
        cluster =
            std::uint64_t{claims_[place.claim].span.first} + claims_[place.claim].span.count - 1;
      }
      if (move != Move::Take) continue;
      const std::optional<bool> taken_now = take(walk, number);
      if (!taken_now) return std::nullopt;
      if (!*taken_now) return refused(walk);
      ++taken;
    }
    return walk;
  }

  static Walk refused(Walk walk) {
    walk.holds = false;
    walk.spans.clear();
    walk.depends_on.clear();
    return walk;
  }

  // Two walks that took the same cluster cannot both be right, and which one
  // is cannot be told: every walk of a group of overlapping spans is dropped.
  void drop_overlapping_walks() {
    struct Taken {
      ClusterSpan span;
      std::size_t walk = 0;
    };
    std::vector<Taken> taken;
    for (std::size_t at = 0; at < walks_.size(); ++at) {
      for (const ClusterSpan& span : walks_[at].spans) taken.push_back({span, at});
    }
    std::ranges::sort(taken, {}, [](const Taken& t) { return t.span.first; });
    std::size_t group_begin = 0;
    std::uint64_t group_end = 0;
    bool overlapping = false;
    const auto close_group = [&](std::size_t end) {
      if (!overlapping) return;
      for (std::size_t at = group_begin; at < end; ++at) walks_[taken[at].walk].holds = false;
    };
    for (std::size_t at = 0; at < taken.size(); ++at) {
      const ClusterSpan& span = taken[at].span;
      if (at > group_begin && span.first < group_end) {
        overlapping = true;
      } else if (at > 0) {
        close_group(at);
        group_begin = at;
        overlapping = false;
      }
      group_end = std::max(group_end, std::uint64_t{span.first} + span.count);
    }
    close_group(taken.size());
  }

  // A walk that passed over another file's first cluster holds only while
  // that file's walk holds.
  void drop_walks_whose_skips_fail() {
    std::vector<std::vector<std::size_t>> dependants(walks_.size());
    std::vector<std::size_t> dropped;
    for (std::size_t at = 0; at < walks_.size(); ++at) {
      for (const std::size_t entry : walks_[at].depends_on)
        dependants[walk_of_[entry]].push_back(at);
      if (!walks_[at].holds) dropped.push_back(at);
    }
    while (!dropped.empty()) {
      const std::size_t failed = dropped.back();
      dropped.pop_back();
      for (const std::size_t dependant : dependants[failed]) {
        if (!walks_[dependant].holds) continue;
        walks_[dependant].holds = false;
        dropped.push_back(dependant);
      }
    }
  }

  const std::vector<EntryRun>& entries_;
  std::uint64_t limit_;  // one past the last cluster number
  ClusterUse& use_;
  std::size_t max_spans_;
  std::uint64_t visits_ = 0;
  std::size_t records_ = 0;            // spans and reliances all walks hold
  std::vector<std::size_t> by_start_;  // entries by first cluster
  std::vector<std::size_t> group_of_;  // each entry's StartGroup
  std::vector<StartGroup> groups_;     // by cluster
  std::vector<bool> claimed_;          // the entry's run is its own beyond doubt
  std::vector<Claim> claims_;          // those runs, by first cluster
  std::vector<Walk> walks_;
  std::vector<std::size_t> walk_of_;  // each entry's walk, kNobody for none
};

}  // namespace

std::optional<std::strong_ordering> creation_order(const std::optional<std::string>& a,
                                                   const std::optional<std::string>& b) {
  if (!a || !b || a->size() < kSecondsLength || a->size() != b->size() ||
      zone_of(*a) != zone_of(*b)) {
    return std::nullopt;
  }
  return *a <=> *b;
}

std::vector<std::optional<std::vector<ClusterSpan>>> plan_untangled_runs(
    const std::vector<EntryRun>& entries, std::uint32_t cluster_count, ClusterUse& use,
    std::size_t max_spans) {
  if (entries.size() > kMaxUntangledFiles)
    return std::vector<std::optional<std::vector<ClusterSpan>>>(entries.size());
  Planner planner(entries, cluster_count, use, max_spans);
  auto plans = planner.plan();
  if (!plans) return std::vector<std::optional<std::vector<ClusterSpan>>>(entries.size());
  return std::move(*plans);
}

}  // namespace kestrel
