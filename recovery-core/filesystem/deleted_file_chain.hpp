#pragma once

#include <cstdint>
#include <expected>
#include <unordered_map>
#include <variant>
#include <vector>

#include "recovery-core/filesystem/volume_geometry.hpp"
#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/source/recovery_error.hpp"

namespace kestrel {

// Remembers, for one volume scan, the chain outcome of every start cluster already walked.
// Each start cluster costs a few words, whatever its chain's length, so the memo's memory
// grows with the number of distinct start clusters only. A memo serves one volume: used
// with another volume's geometry it forgets what it held.
class DeletedChainMemo {
 public:
  // The number of start clusters remembered.
  std::size_t size() const { return outcomes_.size(); }

 private:
  friend class DeletedChainResolver;

  // What is known about the chain from one start cluster: its first `known`
  // clusters, whether it goes no further, and the first of them (if any)
  // that has no offset in the volume.
  struct Outcome {
    std::uint32_t known = 0;
    bool ends = false;                   // the chain holds exactly `known` clusters
    bool last_entry_unreadable = false;  // it ended because the FAT entry of its last cluster failed to read
    bool has_unmapped = false;
    std::uint32_t first_unmapped_index = 0;
    std::uint32_t unmapped_cluster = 0;
  };

  std::variant<std::monostate, Fat32Volume, ExfatVolume> volume_;
  std::unordered_map<std::uint32_t, Outcome> outcomes_;
};

// How many cluster offsets a deleted file gets under the scan rules: clusters_needed(size)
// when the chain walked from first_cluster holds at least that many clusters, else 0.
// A mapping error (e.g. an exFAT chain cluster outside the heap) is returned; a chain-walk
// failure (read error) is dropped (0). The walk stops once it holds the needed clusters;
// a file that needs more than 65,536 clusters skips the walk (0); a start cluster already
// walked in the volume reuses its outcome through the memo (a later file with the same
// start but a larger need extends the walk, at least doubling it, so repeated starts cost
// a bounded number of walks). exFAT with no_fat_chain: 0 without reading the FAT.
// A cluster size that does not fit 32 bits is the byte-range-overflow error.
// The scans set recoverability fat-chain when the count is 2 or more.
std::expected<std::uint32_t, RecoveryError> deleted_file_offset_count(ByteSource& source,
                                                                      const Fat32Volume& volume,
                                                                      std::uint32_t first_cluster,
                                                                      std::uint64_t size,
                                                                      DeletedChainMemo& memo);
std::expected<std::uint32_t, RecoveryError> deleted_file_offset_count(ByteSource& source,
                                                                      const ExfatVolume& volume,
                                                                      std::uint32_t first_cluster,
                                                                      std::uint64_t size, bool no_fat_chain,
                                                                      DeletedChainMemo& memo);

// The cluster offsets themselves, by the same rules (a fresh walk through the source):
// exactly deleted_file_offset_count entries, in file order; empty when that count is 0.
std::expected<std::vector<std::uint64_t>, RecoveryError> deleted_file_cluster_offsets(
    ByteSource& source, const Fat32Volume& volume, std::uint32_t first_cluster, std::uint64_t size);
std::expected<std::vector<std::uint64_t>, RecoveryError> deleted_file_cluster_offsets(
    ByteSource& source, const ExfatVolume& volume, std::uint32_t first_cluster, std::uint64_t size,
    bool no_fat_chain);

}  // namespace kestrel
