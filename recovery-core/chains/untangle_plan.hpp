#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

// What a deleted file's first cluster shows of it: the kind its name
// promises (Present), no known kind at all although the name promises one
// (Gone: another file's data has been written there), or nothing that tells.
enum class StartEvidence : std::uint8_t { Present, Gone, Unknown };

// How a deleted file's clusters are found.
enum class RunRole : std::uint8_t {
  // Its chain is gone: it is read from its first cluster on, and may be
  // planned around the clusters of others.
  Walks,
  // Its entry says its clusters follow each other (exFAT NoFatChain): its run
  // may be claimed, but it is never planned otherwise.
  KeepsRun,
  // Its chain is followed: only its first cluster takes part.
  Fixed,
};

// One deleted file of a volume as its directory entry describes it.
struct EntryRun {
  std::uint32_t first_cluster = 0;
  std::uint32_t clusters = 0;  // how many its size needs, at least 1
  // When the entry says the file was made, as ISO 8601 text; files are put in
  // order only where both texts have the same precision and zone.
  std::optional<std::string> created;
  StartEvidence start = StartEvidence::Unknown;
  RunRole role = RunRole::Walks;
};

// Consecutive clusters, by number.
struct ClusterSpan {
  std::uint32_t first = 0;
  std::uint32_t count = 0;

  friend bool operator==(const ClusterSpan&, const ClusterSpan&) = default;
};

// Which clusters a volume's live files hold now (its allocation table or
// bitmap). A cluster whose state cannot be read counts as held.
class ClusterUse {
 public:
  virtual ~ClusterUse() = default;
  virtual bool held(std::uint32_t cluster) = 0;
};

// Bounds of one volume's plan: past any of them nothing is planned.
inline constexpr std::size_t kMaxUntangledFiles = 65536;
// Clusters one file's walk may look at (as many as a chain may have).
inline constexpr std::uint32_t kMaxWalkClusters = 65536;
// Clusters all the walks and checks of one volume may look at together, and
// spans and first clusters passed over all its walks may hold.
inline constexpr std::uint64_t kMaxUntangleVisits = std::uint64_t{16} << 20;
inline constexpr std::size_t kMaxUntangledSpans = std::size_t{1} << 20;

// Plans the deleted files of one volume whose chains are gone, all together:
// the entries' first clusters, sizes and creation times and the clusters live
// files hold decide where each file's clusters lie. The result has one slot
// per entry: the file's spans in file order where a plan explains every
// cluster it passes over and needs more than one span (at most
// `max_spans`), nothing where the file stays read from its first cluster on.
// Clusters are numbered from 2 to `cluster_count` + 1.
std::vector<std::optional<std::vector<ClusterSpan>>> plan_untangled_runs(
    const std::vector<EntryRun>& entries, std::uint32_t cluster_count, ClusterUse& use,
    std::size_t max_spans);

// Whether `a` was made before `b` (less), after it (greater) or at the same
// time (equivalent), where both texts tell it; nothing otherwise.
std::optional<std::strong_ordering> creation_order(const std::optional<std::string>& a,
                                                   const std::optional<std::string>& b);

}  // namespace kestrel
