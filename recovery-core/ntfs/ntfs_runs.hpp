#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrel {

// A stretch of a stream's clusters: `length` clusters from cluster `first`, or
// a hole of `length` clusters that holds no data (sparse or compressed away).
struct NtfsRun {
  std::uint64_t first = 0;
  std::uint64_t length = 0;
  bool hole = false;

  friend bool operator==(const NtfsRun&, const NtfsRun&) = default;
};

// The runs a run list encodes: each entry a header byte (the sizes of its
// length and offset fields), the length, and the offset of its first cluster
// from the previous run's, signed; an entry without an offset is a hole. The
// list ends at a zero byte. Nothing when an entry overruns the bytes, a
// length is zero, a run reaches past `cluster_count` or before cluster 0, or
// there are more than `most_runs` entries.
std::optional<std::vector<NtfsRun>> decode_ntfs_runs(std::span<const std::uint8_t> bytes,
                                                     std::uint64_t cluster_count,
                                                     std::size_t most_runs);

// The clusters the runs give the stream in all (held at 2^62).
std::uint64_t run_clusters(std::span<const NtfsRun> runs);

}  // namespace kestrel
