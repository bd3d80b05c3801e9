#include "recovery-core/filesystem/deleted_file_chain.hpp"

#include <algorithm>

#include "recovery-core/filesystem/chain_walk.hpp"
#include "recovery-core/filesystem/cluster_chain.hpp"

namespace kestrel {

// The rules shared by the scans' counts and extraction's offsets.
class DeletedChainResolver {
 public:
  using Outcome = DeletedChainMemo::Outcome;

  // The offset count of a deleted file. `walk(wanted)` walks the file's chain;
  // when a walk is made and `walked` is given, the walk's clusters go there.
  template <typename Volume, typename Walk>
  static std::expected<std::uint32_t, RecoveryError> count(const Volume& volume, std::uint32_t first_cluster,
                                                          std::uint64_t size, DeletedChainMemo& memo,
                                                          Walk walk, std::vector<std::uint32_t>* walked) {
    auto bytes = cluster_size(volume);
    if (!bytes) return std::unexpected(bytes.error());
    const std::uint32_t needed = clusters_needed(size, *bytes);
    // A chain never holds more than the cap, so such a file never gets offsets.
    if (needed == 0 || needed > kMaxChainClusters) return 0;

    if (memo.volume_ != decltype(memo.volume_)(volume)) {
      memo.outcomes_.clear();
      memo.volume_ = volume;
    }
    auto found = memo.outcomes_.find(first_cluster);
    if (found == memo.outcomes_.end() || !decides(found->second, needed)) {
      // Extending a remembered chain walks at least twice as far as before, so
      // a start cluster shared by many files costs a few walks, not one per file.
      std::uint32_t wanted = needed;
      if (found != memo.outcomes_.end()) {
        wanted = std::max(needed, std::min(kMaxChainClusters, 2 * found->second.known));
      }
      ChainWalk result = walk(wanted);
      const Outcome outcome = summarise(result, volume);
      if (walked) *walked = std::move(result.clusters);
      found = memo.outcomes_.insert_or_assign(first_cluster, outcome).first;
    }
    return answer(found->second, needed, volume);
  }

 private:
  static bool decides(const Outcome& outcome, std::uint32_t needed) {
    return outcome.ends || outcome.known >= needed;
  }

  template <typename Volume>
  static Outcome summarise(const ChainWalk& walk, const Volume& volume) {
    Outcome outcome;
    outcome.known = static_cast<std::uint32_t>(walk.clusters.size());
    outcome.ends = !walk.stopped_at_wanted;
    outcome.last_entry_unreadable = walk.failure.has_value();
    for (std::size_t i = 0; i < walk.clusters.size(); ++i) {
      if (!cluster_offset(volume, walk.clusters[i])) {
        outcome.has_unmapped = true;
        outcome.first_unmapped_index = static_cast<std::uint32_t>(i);
        outcome.unmapped_cluster = walk.clusters[i];
        break;
      }
    }
    return outcome;
  }

  // The count for `needed` clusters, as a walk wanting exactly `needed` would give it:
  // such a walk reads the FAT entries of its first needed - 1 clusters (all `needed`
  // at the cap, where it reads on as a full walk does), and a failed read drops the chain.
  template <typename Volume>
  static std::expected<std::uint32_t, RecoveryError> answer(const Outcome& outcome, std::uint32_t needed,
                                                           const Volume& volume) {
    const bool holds = outcome.known > needed ||
                       (outcome.known == needed &&
                        (needed < kMaxChainClusters || !outcome.last_entry_unreadable));
    if (!holds) return 0;
    if (outcome.has_unmapped && outcome.first_unmapped_index < needed) {
      return std::unexpected(cluster_offset(volume, outcome.unmapped_cluster).error());
    }
    return needed;
  }
};

namespace {

auto fat32_walk(ByteSource& source, const Fat32Volume& volume, std::uint32_t first_cluster) {
  return [&source, &volume, first_cluster](std::uint32_t wanted) {
    return walk_fat32_chain(source, volume.fat_offset, volume.cluster_count, first_cluster, wanted);
  };
}

auto exfat_walk(ByteSource& source, const ExfatVolume& volume, std::uint32_t first_cluster) {
  return [&source, &volume, first_cluster](std::uint32_t wanted) {
    return walk_exfat_chain(source, volume.fat_offset, first_cluster, wanted);
  };
}

template <typename Volume, typename Walk>
std::expected<std::vector<std::uint64_t>, RecoveryError> offsets_of(const Volume& volume,
                                                                    std::uint32_t first_cluster,
                                                                    std::uint64_t size, Walk walk) {
  DeletedChainMemo fresh;
  std::vector<std::uint32_t> chain;
  auto count = DeletedChainResolver::count(volume, first_cluster, size, fresh, walk, &chain);
  if (!count) return std::unexpected(count.error());
  if (*count == 0) return std::vector<std::uint64_t>{};
  return map_cluster_offsets(chain, *count, volume);
}

}  // namespace

std::expected<std::uint32_t, RecoveryError> deleted_file_offset_count(ByteSource& source,
                                                                      const Fat32Volume& volume,
                                                                      std::uint32_t first_cluster,
                                                                      std::uint64_t size,
                                                                      DeletedChainMemo& memo) {
  return DeletedChainResolver::count(volume, first_cluster, size, memo, fat32_walk(source, volume, first_cluster),
                                     nullptr);
}

std::expected<std::uint32_t, RecoveryError> deleted_file_offset_count(ByteSource& source,
                                                                      const ExfatVolume& volume,
                                                                      std::uint32_t first_cluster,
                                                                      std::uint64_t size, bool no_fat_chain,
                                                                      DeletedChainMemo& memo) {
  if (no_fat_chain) return 0;
  return DeletedChainResolver::count(volume, first_cluster, size, memo, exfat_walk(source, volume, first_cluster),
                                     nullptr);
}

std::expected<std::vector<std::uint64_t>, RecoveryError> deleted_file_cluster_offsets(
    ByteSource& source, const Fat32Volume& volume, std::uint32_t first_cluster, std::uint64_t size) {
  return offsets_of(volume, first_cluster, size, fat32_walk(source, volume, first_cluster));
}

std::expected<std::vector<std::uint64_t>, RecoveryError> deleted_file_cluster_offsets(
    ByteSource& source, const ExfatVolume& volume, std::uint32_t first_cluster, std::uint64_t size,
    bool no_fat_chain) {
  if (no_fat_chain) return std::vector<std::uint64_t>{};
  return offsets_of(volume, first_cluster, size, exfat_walk(source, volume, first_cluster));
}

}  // namespace kestrel
