#pragma once

#include <cstdint>

namespace kestrel {

// The memory of a directory walk about the deleted entries just behind it.
// Deleting a FAT32 file may zero the upper 16 bits of its start cluster; the
// clusters its neighbours already claimed suggest which 65,536-cluster band
// the surviving lower 16 bits belong to.
struct DeletedRunState {
  bool previous_valid = false;  // the entry before this one had a start cluster we could use
  std::uint32_t previous_cluster = 0;
  bool has_floor = false;
  std::uint32_t floor = 0;  // one past the last cluster any entry of the run takes up
  bool has_previous_low = false;
  std::uint16_t previous_low = 0;

  void clear() { *this = DeletedRunState{}; }

  friend bool operator==(const DeletedRunState&, const DeletedRunState&) = default;
};

// The start cluster of a deleted entry. With a cleared high word, an entry
// repeating the previous low word shares the previous entry's cluster, and
// otherwise the low word is raised in 65,536 steps past the run's floor while
// it stays inside the volume. A result below 2 or beyond the volume clears the
// run and is skipped by the caller; a usable one extends the run.
std::uint32_t reconstruct_start_cluster(DeletedRunState& state, std::uint16_t high_word,
                                        std::uint16_t low_word, std::uint64_t size,
                                        std::uint32_t cluster_size, std::uint32_t cluster_count);

// The start cluster of a deleted entry taken as stored, `cluster`, with the run
// kept as reconstruct_start_cluster keeps it: cleared when the cluster lies
// outside the volume, extended past the file otherwise.
std::uint32_t keep_start_cluster(DeletedRunState& state, std::uint64_t cluster,
                                 std::uint16_t low_word, std::uint64_t size,
                                 std::uint32_t cluster_size, std::uint32_t cluster_count);

// True when a start cluster from reconstruct_start_cluster names a data cluster.
bool is_usable_start_cluster(std::uint32_t cluster, std::uint32_t cluster_count);

}  // namespace kestrel
