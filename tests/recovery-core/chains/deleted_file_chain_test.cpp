#include "recovery-core/chains/deleted_file_chain.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/exfat/exfat_geometry.hpp"
#include "recovery-core/fat/fat_geometry.hpp"
#include "tests/support/fat_image.hpp"
#include "tests/support/memory_source.hpp"

namespace kestrel::testing {
namespace {

constexpr std::uint64_t kFat = 1024;
constexpr std::uint32_t kCluster = 4096;
constexpr std::uint32_t kFat32End = 0x0FFFFFFF;
constexpr std::uint32_t kExfatEnd = 0xFFFFFFFF;

// 512-byte sectors, 8 per cluster: 4096-byte clusters. The data area need not exist:
// counting only reads the FAT.
const FatGeometry kFat32{kFat, 1u << 20, 1, 512, 8, 100000};
const ExfatGeometry kExfat{kFat, 1u << 20, 512, 8, 100};

std::string text(const std::expected<std::uint32_t, RecoveryError>& count) {
  return count ? std::to_string(*count) : count.error().message();
}

std::string text(const std::expected<std::vector<std::uint64_t>, RecoveryError>& offsets) {
  if (!offsets) return offsets.error().message();
  std::string out = std::to_string(offsets->size()) + ":";
  for (const std::uint64_t offset : *offsets) out.append(" ").append(std::to_string(offset));
  return out;
}

// Serves only reads of one FAT entry (4 bytes) and counts them; every longer read
// fails, so a block cache falls back to reading entry by entry and the count is
// the number of FAT entries read.
class EntryReadCounter final : public ByteSource {
 public:
  explicit EntryReadCounter(MemorySource& inner) : inner_(inner) {}

  std::expected<std::size_t, SourceError> read_at(std::uint64_t offset,
                                                  std::span<std::uint8_t> buffer) override {
    if (buffer.size() != 4) return std::unexpected(SourceError::device_disconnected());
    ++entries_;
    return inner_.read_at(offset, buffer);
  }
  const DeviceInfo& identity() const override { return inner_.identity(); }

  std::size_t entries() const { return entries_; }

 private:
  MemorySource& inner_;
  std::size_t entries_ = 0;
};

struct CountCase {
  const char* what;
  std::function<void(std::vector<std::uint8_t>&)> layout;
  std::function<void(MemorySource&)> failures;
  std::uint32_t first;
  std::uint64_t size;
  std::string count;
  bool reads_nothing = false;
};

void no_failures(MemorySource&) {}

TEST(DeletedFileOffsetCount, Fat32Rules) {
  const auto fragmented = [](auto& i) { link_chain(i, kFat, {100, 101, 250}, kFat32End); };
  const auto to_the_cap = [](auto& i) {
    link_chain(i, kFat, cluster_run(2, 65536), kFat32End);
    i.resize(i.size() - 4);
  };
  const std::vector<CountCase> cases = {
      {"intact fragmented chain: 10,000 bytes in three clusters", fragmented, no_failures, 100,
       10000, "3"},
      {"entries cleared by deletion", [](auto&) {}, no_failures, 100, 10000, "0"},
      {"one-cluster file: no FAT entry is read", fragmented, no_failures, 100, 100, "1", true},
      {"chain longer than the file",
       [](auto& i) { link_chain(i, kFat, cluster_run(100, 11), kFat32End); }, no_failures, 100,
       8192, "2"},
      {"chain ends one cluster early", [](auto& i) { link_chain(i, kFat, {100, 101}, kFat32End); },
       no_failures, 100, 3 * kCluster, "0"},
      {"loop", [](auto& i) { link_chain(i, kFat, {5, 6}, 5); }, no_failures, 5, 3 * kCluster, "0"},
      {"loop exactly as long as the file", [](auto& i) { link_chain(i, kFat, {5, 6, 7}, 5); },
       no_failures, 5, 3 * kCluster, "3"},
      {"unreadable FAT entry inside the needed part is dropped", fragmented,
       [](MemorySource& s) { s.fail_range(kFat + 4 * 101, 4, SourceError::device_disconnected()); },
       100, 10000, "0"},
      // The walk stops once it holds the file's clusters, before the last one's entry.
      {"unreadable FAT entry of the file's last cluster is not needed", fragmented,
       [](MemorySource& s) { s.fail_range(kFat + 4 * 250, 4, SourceError::device_disconnected()); },
       100, 10000, "3"},
      {"empty file", fragmented, no_failures, 100, 0, "0", true},
      {"first cluster outside the volume", fragmented, no_failures, 100002, 10000, "0", true},
      {"65,537 clusters: more than any chain holds, no FAT read",
       [](auto& i) { link_chain(i, kFat, cluster_run(2, 70000), kFat32End); }, no_failures, 2,
       std::uint64_t{65537} * kCluster, "0", true},
      {"exactly 65,536 clusters",
       [](auto& i) { link_chain(i, kFat, cluster_run(2, 70000), kFat32End); }, no_failures, 2,
       std::uint64_t{65536} * kCluster, "65536"},
      // At the cap the walk reads the last cluster's entry as a full walk does: here it lies past
      // the image.
      {"65,536 clusters, last entry unreadable", to_the_cap, no_failures, 2,
       std::uint64_t{65536} * kCluster, "0"},
      {"65,535 clusters, the entry after them unreadable", to_the_cap, no_failures, 2,
       std::uint64_t{65535} * kCluster, "65535"},
  };
  for (const CountCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> image(kFat + 4096, 0);
    c.layout(image);
    MemorySource source(image);
    c.failures(source);
    DeletedChainMemo memo;
    EXPECT_EQ(
        text(deleted_file_offset_count(source, cluster_area(kFat32), c.first, c.size, false, memo)),
        c.count);
    if (c.reads_nothing) {
      EXPECT_EQ(source.read_count(), 0u);
    }
    // Extraction's own walk gives the same answer.
    auto offsets =
        deleted_file_cluster_offsets(source, cluster_area(kFat32), c.first, c.size, false);
    ASSERT_TRUE(offsets);
    EXPECT_EQ(std::to_string(offsets->size()), c.count);
  }
}

TEST(DeletedFileOffsetCount, MappingErrorsAreReturned) {
  std::vector<std::uint8_t> image(kFat + 4096, 0);
  link_chain(image, kFat, {100, 101}, kFat32End);
  MemorySource source(image);
  FatGeometry volume = kFat32;
  volume.data_offset = UINT64_MAX - 200 * kCluster;  // cluster 101 still maps, 250 would not
  DeletedChainMemo memo;
  EXPECT_EQ(
      text(deleted_file_offset_count(source, cluster_area(volume), 100, 2 * kCluster, false, memo)),
      "2");
  volume.data_offset = UINT64_MAX - 98 * kCluster;  // cluster 100 maps, 101 overflows
  EXPECT_EQ(
      text(deleted_file_offset_count(source, cluster_area(volume), 100, 2 * kCluster, false, memo)),
      "byte range overflow");
  EXPECT_EQ(
      text(deleted_file_offset_count(source, cluster_area(volume), 100, kCluster, false, memo)),
      "1");
  volume.sectors_per_cluster = 1u << 24;  // 8 GiB clusters do not fit 32 bits
  EXPECT_EQ(text(deleted_file_offset_count(source, cluster_area(volume), 100, 1, false, memo)),
            "byte range overflow");
}

TEST(DeletedFileOffsetCount, ExfatRules) {
  struct Case {
    const char* what;
    std::vector<std::uint32_t> chain;
    std::uint32_t end;
    std::uint64_t size;
    bool no_fat_chain;
    std::string count;
    bool reads_nothing = false;
  };
  const std::vector<Case> cases = {
      {"intact chain", {5, 6, 7}, kExfatEnd, 3 * kCluster, false, "3"},
      {"NoFatChain: the FAT is not read", {5, 6, 7}, kExfatEnd, 3 * kCluster, true, "0", true},
      {"chain ends after two of three clusters", {5, 6}, kExfatEnd, 3 * kCluster, false, "0"},
      {"stray cluster beyond the heap inside the file",
       {5, 1000},
       kExfatEnd,
       2 * kCluster,
       false,
       "invalid structure: exFAT cluster outside heap"},
      {"stray cluster after the file's clusters",
       {5, 6, 1000},
       kExfatEnd,
       2 * kCluster,
       false,
       "2"},
      {"stray cluster in a chain too short for the file",
       {5, 1000},
       kExfatEnd,
       3 * kCluster,
       false,
       "0"},
      {"first cluster beyond the heap",
       {1000},
       kExfatEnd,
       kCluster,
       false,
       "invalid structure: exFAT cluster outside heap",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> image(kFat + 8192, 0);
    link_chain(image, kFat, c.chain, c.end);
    MemorySource source(image);
    DeletedChainMemo memo;
    EXPECT_EQ(text(deleted_file_offset_count(source, cluster_area(kExfat), c.chain[0], c.size,
                                             c.no_fat_chain, memo)),
              c.count);
    if (c.reads_nothing) {
      EXPECT_EQ(source.read_count(), 0u);
    }
  }
}

TEST(DeletedChainMemo, RemembersWhereAWalkFailed) {
  std::vector<std::uint8_t> image(kFat + 4096, 0);
  link_chain(image, kFat, {100, 101, 102}, kFat32End);
  MemorySource source(image);
  source.fail_range(kFat + 4 * 101, 4, SourceError::device_disconnected());
  DeletedChainMemo memo;
  EXPECT_EQ(
      text(deleted_file_offset_count(source, cluster_area(kFat32), 100, 3 * kCluster, false, memo)),
      "0");
  // Two clusters need only the entry of cluster 100, which was read.
  EXPECT_EQ(
      text(deleted_file_offset_count(source, cluster_area(kFat32), 100, 2 * kCluster, false, memo)),
      "2");
  EXPECT_EQ(
      text(deleted_file_offset_count(source, cluster_area(kFat32), 100, 4 * kCluster, false, memo)),
      "0");
  EXPECT_EQ(
      text(deleted_file_offset_count(source, cluster_area(kFat32), 101, 2 * kCluster, false, memo)),
      "0");
  EXPECT_EQ(
      text(deleted_file_offset_count(source, cluster_area(kFat32), 101, kCluster, false, memo)),
      "1");
}

TEST(DeletedChainMemo, ServesOneVolumeAtATime) {
  constexpr std::uint64_t kOtherFat = 8192;
  std::vector<std::uint8_t> image(kOtherFat + 4096, 0);
  link_chain(image, kFat, {100, 101, 102}, kFat32End);
  link_chain(image, kOtherFat, {100}, kFat32End);
  MemorySource source(image);
  FatGeometry other = kFat32;
  other.fat_offset = kOtherFat;
  DeletedChainMemo memo;
  EXPECT_EQ(
      text(deleted_file_offset_count(source, cluster_area(kFat32), 100, 3 * kCluster, false, memo)),
      "3");
  EXPECT_EQ(
      text(deleted_file_offset_count(source, cluster_area(other), 100, 3 * kCluster, false, memo)),
      "0");
  EXPECT_EQ(
      text(deleted_file_offset_count(source, cluster_area(kFat32), 100, 3 * kCluster, false, memo)),
      "3");
  // Another source with the same geometry is another FAT as well.
  std::vector<std::uint8_t> cleared(kOtherFat + 4096, 0);
  MemorySource cleared_source(cleared);
  EXPECT_EQ(text(deleted_file_offset_count(cleared_source, cluster_area(kFat32), 100, 3 * kCluster,
                                           false, memo)),
            "0");
}

TEST(DeletedChainMemo, FilesSharingAStartCostOneWalk) {
  constexpr std::uint32_t kFiles = 2000;
  std::vector<std::uint8_t> image;
  link_chain(image, kFat, cluster_run(100, 3000), kFat32End);
  MemorySource memory(image);
  EntryReadCounter source(memory);
  DeletedChainMemo memo;
  for (std::uint32_t need = 1; need <= kFiles; ++need) {
    ASSERT_EQ(text(deleted_file_offset_count(source, cluster_area(kFat32), 100,
                                             std::uint64_t{need} * kCluster, false, memo)),
              std::to_string(need));
  }
  // Walking afresh for every file would read about kFiles^2 / 2 entries.
  EXPECT_LE(source.entries(), 3000u + 2 * DeletedChainMemo::kAnchorStride);
}

// The reads one file costs once its chain's clusters were walked by others:
// fewer than about two anchor strides of entries, however long the chain.
TEST(DeletedChainMemo, FilesJoiningAWalkedChainReadLittle) {
  std::vector<std::uint8_t> image;
  link_chain(image, kFat, cluster_run(100, 5000), kFat32End);
  MemorySource memory(image);
  EntryReadCounter source(memory);
  DeletedChainMemo memo;
  ASSERT_EQ(text(deleted_file_offset_count(source, cluster_area(kFat32), 100, 5000u * kCluster,
                                           false, memo)),
            "5000");
  EXPECT_LE(source.entries(), 5000u);
  for (std::uint32_t start = 101; start < 5100; start += 7) {
    const std::size_t before = source.entries();
    const std::uint32_t held = 5100 - start;
    ASSERT_EQ(text(deleted_file_offset_count(source, cluster_area(kFat32), start,
                                             std::uint64_t{held} * kCluster, false, memo)),
              std::to_string(held));
    ASSERT_EQ(text(deleted_file_offset_count(source, cluster_area(kFat32), start,
                                             std::uint64_t{held + 1} * kCluster, false, memo)),
              "0");
    EXPECT_LE(source.entries() - before, 2 * DeletedChainMemo::kAnchorStride) << start;
  }
}

// The reference rules for a deleted file's chain, walked straightforwardly over
// the bytes of an image: follow the chain from the first cluster with a set of
// its own, stop at the cap, a repeat, an end, free, reserved or bad entry, a
// FAT32 next cluster beyond the volume, or once it holds the file's clusters
// (below the cap, without reading the last one's entry); a failed read drops it;
// a chain shorter than the file gives nothing; otherwise the first clusters are
// mapped, the first one without an offset being the error.
struct ReferenceImage {
  std::vector<std::uint8_t> bytes;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> failing;  // offset, length

  void fail(std::uint64_t offset, std::uint64_t length) { failing.emplace_back(offset, length); }

  MemorySource source() const {
    MemorySource source(bytes);
    for (const auto& [offset, length] : failing)
      source.fail_range(offset, length, SourceError::device_disconnected());
    return source;
  }

  std::optional<std::uint32_t> entry(std::uint64_t fat, std::uint32_t cluster) const {
    const std::uint64_t offset = fat + std::uint64_t{cluster} * 4;
    if (offset + 4 > bytes.size()) return std::nullopt;
    for (const auto& [bad, length] : failing) {
      if (offset < bad + length && bad < offset + 4) return std::nullopt;
    }
    return static_cast<std::uint32_t>(bytes[offset]) |
           (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
  }
};

struct ReferenceVolume {
  bool exfat = false;
  std::uint64_t fat = 0;
  std::uint64_t area = 0;  // data area or heap: cluster 2
  std::uint32_t cluster_bytes = 0;
  std::uint32_t cluster_count = 0;

  std::uint64_t limit() const {
    return std::min<std::uint64_t>(std::uint64_t{cluster_count} + 2, 0xFFFFFFFF);
  }
};

// "count" or the error text, and the offsets when they are asked for.
std::string reference_outcome(const ReferenceImage& image, const ReferenceVolume& volume,
                              std::uint32_t first, std::uint64_t size, bool with_offsets) {
  constexpr std::uint64_t kCap = 65536;
  const std::uint64_t needed = (size + volume.cluster_bytes - 1) / volume.cluster_bytes;
  const std::string nothing = with_offsets ? "0:" : "0";
  if (needed == 0 || needed > kCap) return nothing;
  const bool starts =
      volume.exfat ? first >= 2 && first <= 0xFFFFFFF7 : first >= 2 && first < volume.limit();
  if (!starts) return nothing;
  std::vector<std::uint32_t> chain;
  std::unordered_set<std::uint32_t> seen;
  std::uint32_t cluster = first;
  while (chain.size() < kCap && seen.insert(cluster).second) {
    chain.push_back(cluster);
    if (chain.size() == needed && needed < kCap) break;
    const std::optional<std::uint32_t> entry = image.entry(volume.fat, cluster);
    if (!entry) return nothing;
    std::uint32_t next = *entry;
    if (volume.exfat) {
      if (next < 2 || next >= 0xFFFFFFF7) break;
    } else {
      next &= 0x0FFFFFFF;
      if (next < 2 || next >= 0x0FFFFFF7 || next >= volume.limit()) break;
    }
    cluster = next;
  }
  if (chain.size() < needed) return nothing;
  std::string offsets;
  for (std::uint64_t i = 0; i < needed; ++i) {
    const std::uint32_t c = chain[i];
    if (c < 2 || c >= volume.limit()) {
      return volume.exfat ? "invalid structure: exFAT cluster outside heap"
                          : "invalid structure: FAT32 cluster outside data area";
    }
    const std::uint64_t relative = std::uint64_t{volume.cluster_bytes} * (c - 2);
    if (relative > std::numeric_limits<std::uint64_t>::max() - volume.area)
      return "byte range overflow";
    if (with_offsets) offsets.append(" ").append(std::to_string(volume.area + relative));
  }
  std::string outcome = std::to_string(needed);
  if (with_offsets) outcome.append(":").append(offsets);
  return outcome;
}

std::string memo_outcome(ByteSource& source, const ReferenceVolume& volume, std::uint32_t first,
                         std::uint64_t size, DeletedChainMemo& memo) {
  const std::uint32_t sectors = volume.cluster_bytes / 512;
  if (volume.exfat) {
    const ExfatGeometry exfat{volume.fat, volume.area, 512, sectors, volume.cluster_count};
    return text(deleted_file_offset_count(source, cluster_area(exfat), first, size, false, memo));
  }
  const FatGeometry fat32{volume.fat, volume.area, 1, 512, sectors, volume.cluster_count};
  return text(deleted_file_offset_count(source, cluster_area(fat32), first, size, false, memo));
}

std::string extraction_outcome(ByteSource& source, const ReferenceVolume& volume,
                               std::uint32_t first, std::uint64_t size) {
  const std::uint32_t sectors = volume.cluster_bytes / 512;
  if (volume.exfat) {
    const ExfatGeometry exfat{volume.fat, volume.area, 512, sectors, volume.cluster_count};
    return text(deleted_file_cluster_offsets(source, cluster_area(exfat), first, size, false));
  }
  const FatGeometry fat32{volume.fat, volume.area, 1, 512, sectors, volume.cluster_count};
  return text(deleted_file_cluster_offsets(source, cluster_area(fat32), first, size, false));
}

// A size whose cluster count is `need`, cut short by a random part of a cluster.
std::uint64_t size_for(std::uint64_t need, std::uint32_t cluster_bytes, std::mt19937& random) {
  if (need == 0) return 0;
  return need * cluster_bytes - random() % cluster_bytes;
}

// The length of the reference chain from `first` (as a file of 65,536 clusters walks it).
std::uint64_t reference_length(const ReferenceImage& image, const ReferenceVolume& volume,
                               std::uint32_t first) {
  std::uint64_t low = 0;
  // The largest need the chain holds; a failed read makes the answer 0 above some
  // need, and the need just above the length is the interesting one either way.
  std::uint64_t high = 65536;
  while (low < high) {
    const std::uint64_t mid = (low + high + 1) / 2;
    const std::string outcome =
        reference_outcome(image, volume, first, mid * volume.cluster_bytes, false);
    if (outcome != "0") {
      low = mid;
    } else {
      high = mid - 1;
    }
  }
  return low;
}

// About how many clusters the chain from `first` holds, in one walk to the cap
// (as far as an unreadable entry or the end), and how many reach its first
// cluster without an offset (0 if none): the needs around them are the ones
// worth asking.
std::pair<std::uint64_t, std::uint64_t> reference_held(const ReferenceImage& image,
                                                       const ReferenceVolume& volume,
                                                       std::uint32_t first) {
  std::unordered_set<std::uint32_t> seen;
  std::uint64_t to_unmapped = 0;
  std::uint32_t cluster = first;
  while (seen.size() < 65536 && seen.insert(cluster).second) {
    if (to_unmapped == 0 && (cluster < 2 || cluster >= volume.limit())) to_unmapped = seen.size();
    const std::optional<std::uint32_t> entry = image.entry(volume.fat, cluster);
    if (!entry) break;
    const std::uint32_t next = volume.exfat ? *entry : *entry & 0x0FFFFFFF;
    if (next < 2 || next >= (volume.exfat ? 0xFFFFFFF7u : 0x0FFFFFF7u) ||
        (!volume.exfat && next >= volume.limit())) {
      break;
    }
    cluster = next;
  }
  return {seen.size(), to_unmapped};
}

// A FAT of a few hundred clusters drawn at random: runs, links anywhere (ahead,
// behind: loops and ρ shapes; shared tails), end, free, reserved and bad entries,
// FAT32 links beyond the volume and with high bits set, exFAT strays beyond the
// heap (some whose entries lie past the image), a long loop or two with tails
// into them, unreadable bytes, sometimes an image that ends inside the FAT.
std::pair<ReferenceImage, ReferenceVolume> random_fat(std::mt19937& random, bool exfat) {
  ReferenceVolume volume;
  volume.exfat = exfat;
  volume.fat = kFat;
  volume.cluster_bytes = random() % 2 == 0 ? 512 : 4096;
  volume.cluster_count = 60 + random() % 400;
  // Data far off in one volume out of five: high clusters have no offset.
  volume.area = random() % 5 == 0
                    ? std::numeric_limits<std::uint64_t>::max() -
                          std::uint64_t{volume.cluster_bytes} * (volume.cluster_count / 2)
                    : 1u << 20;
  const std::uint32_t extent = volume.cluster_count + 2 + random() % 80;  // entries laid out
  const std::uint32_t end = exfat ? 0xFFFFFFF8u + random() % 8 : 0x0FFFFFF8u + random() % 8;
  const std::uint32_t bad = exfat ? 0xFFFFFFF7u : 0x0FFFFFF7u;

  ReferenceImage image;
  image.bytes.assign(kFat + std::uint64_t{extent} * 4, 0);
  for (std::uint32_t c = 2; c < extent; ++c) {
    const std::uint32_t pick = random() % 100;
    std::uint32_t value = 0;
    if (pick < 45) {
      value = c + 1;
    } else if (pick < 60) {
      value = 2 + random() % (extent + 20);
    } else if (pick < 70) {
      value = c > 3 ? c - 1 - random() % std::min<std::uint32_t>(c - 2, 150) : end;
    } else if (pick < 80) {
      value = end;
    } else if (pick < 85) {
      value = bad;
    } else if (pick < 88) {
      value = 1;
    } else if (pick < 93) {
      value = 0;
    } else if (!exfat && pick < 96) {
      value = (0x10000000u * (1 + random() % 15)) | (c + 1);
    } else {
      value = exfat ? 100000 + random() % 1000 : volume.cluster_count + 2 + random() % 5;
    }
    set_fat_entry(image.bytes, kFat, c, value);
  }
  // Long loops (anchors go round those of 64 clusters or more) and tails into them.
  for (int loops = 1 + static_cast<int>(random() % 2); loops > 0; --loops) {
    const std::uint32_t length = 20 + random() % 250;
    if (length + 4 >= extent) continue;
    const std::uint32_t start = 2 + random() % (extent - length - 2);
    for (std::uint32_t i = 0; i < length; ++i)
      set_fat_entry(image.bytes, kFat, start + i, start + (i + 1) % length);
    for (int tails = static_cast<int>(random() % 12); tails > 0; --tails) {
      set_fat_entry(image.bytes, kFat, 2 + random() % (extent - 2), start + random() % length);
    }
  }
  for (int ranges = static_cast<int>(random() % 4); ranges > 0; --ranges) {
    image.fail(kFat + random() % (std::uint64_t{extent} * 4), 1 + random() % 12);
  }
  if (random() % 5 == 0) image.bytes.resize(kFat + random() % (std::uint64_t{extent} * 4));
  return {std::move(image), volume};
}

// The memo's answers, for files in any order sharing any part of their chains,
// are those of the reference rules and of extraction's own walk.
TEST(DeletedChainMemo, AnswersAsTheReferenceRulesOnRandomFats) {
  std::mt19937 random(20260611);
  for (int round = 0; round < 160; ++round) {
    const bool exfat = round % 2 == 1;
    auto [image, volume] = random_fat(random, exfat);
    MemorySource source = image.source();
    // Most rounds with the full table, some with a table that fills up at once.
    const std::size_t limits[] = {ChainFactTable::kMaxEntries, 0, 1, 3, 20};
    DeletedChainMemo memo(limits[random() % 100 < 60 ? 0 : 1 + random() % 4]);
    const std::uint32_t extent = static_cast<std::uint32_t>((image.bytes.size() - kFat) / 4) + 30;
    for (int file = 0; file < 250; ++file) {
      const std::uint32_t first = random() % 7 == 0 ? random() % 5 : random() % (extent + 2);
      std::uint64_t need = 0;
      switch (random() % 8) {
        case 0:
          need = 1;
          break;
        case 1:
          need = 2;
          break;
        case 2:
          need = 65537;
          break;
        case 3:
          need = random() % 600;
          break;
        default: {
          const std::uint64_t length = reference_length(image, volume, first);
          need = length + random() % 3 - (length > 0 ? 1 : 0);
        }
      }
      const std::uint64_t size = size_for(need, volume.cluster_bytes, random);
      SCOPED_TRACE(::testing::Message()
                   << "round " << round << " first " << first << " need " << need);
      ASSERT_EQ(memo_outcome(source, volume, first, size, memo),
                reference_outcome(image, volume, first, size, false));
      if (file % 5 == 0) {
        ASSERT_EQ(extraction_outcome(source, volume, first, size),
                  reference_outcome(image, volume, first, size, true));
      }
    }
  }
}

// Chains at the scale of the cap: a line longer than a whole memo walk, loops of
// 65,535, 65,536 and 65,537 clusters with tails, an unreadable entry and an
// exFAT stray where files of 65,534 to 65,536 clusters reach them.
TEST(DeletedChainMemo, AnswersAsTheReferenceRulesAtTheCap) {
  constexpr std::uint32_t kLine = 2;  // 2 .. 150,001, then the end
  constexpr std::uint32_t kLineEnd = 150001;
  constexpr std::uint32_t kUnreadable = 90000;  // on the line
  constexpr std::uint32_t kStray = 120000;      // on the line; exFAT goes to 5,000,000
  const std::vector<std::uint32_t> loop_lengths = {65535, 65536, 65537};
  ReferenceImage image;
  image.bytes.assign(kFat + 4 * 360000, 0);
  for (std::uint32_t c = kLine; c < kLineEnd; ++c) set_fat_entry(image.bytes, kFat, c, c + 1);
  set_fat_entry(image.bytes, kFat, kLineEnd, kFat32End);
  image.fail(kFat + 4 * kUnreadable, 4);
  set_fat_entry(image.bytes, kFat, kStray, 5000000);
  std::vector<std::uint32_t> starts;
  std::uint32_t next_loop = 150100;
  for (const std::uint32_t length : loop_lengths) {
    for (std::uint32_t i = 0; i < length; ++i)
      set_fat_entry(image.bytes, kFat, next_loop + i, next_loop + (i + 1) % length);
    // A tail of three clusters joins the loop halfway.
    const std::uint32_t tail = next_loop + length + 10;
    link_chain(image.bytes, kFat, {tail, tail + 1, tail + 2}, next_loop + length / 2);
    for (const std::uint32_t s :
         {next_loop, next_loop + 1, next_loop + length - 1, next_loop + 300, tail, tail + 2}) {
      starts.push_back(s);
    }
    next_loop = tail + 10;
  }
  for (const std::uint32_t near : {kUnreadable, kStray, kLineEnd}) {
    for (std::uint32_t back = 65533; back <= 65538; ++back) starts.push_back(near - back);
  }
  for (const std::uint32_t s : {kLine, kLine + 1u, 24000u, 60000u}) starts.push_back(s);

  for (const bool exfat : {false, true}) {
    const ReferenceVolume volume{exfat, kFat, 1u << 20, 512, 355000};
    std::mt19937 random(exfat ? 7 : 8);
    struct File {
      std::uint32_t first;
      std::uint64_t size;
      std::string expected;
    };
    std::vector<File> files;
    for (const std::uint32_t s : starts) {
      for (const std::uint64_t need : {std::uint64_t{65534}, std::uint64_t{65535},
                                       std::uint64_t{65536}, std::uint64_t{1 + random() % 65536}}) {
        const std::uint64_t size = size_for(need, volume.cluster_bytes, random);
        files.push_back({s, size, reference_outcome(image, volume, s, size, false)});
      }
    }
    for (const std::size_t limit : {ChainFactTable::kMaxEntries, std::size_t{200}}) {
      SCOPED_TRACE(::testing::Message()
                   << (exfat ? "exFAT" : "FAT32") << ", " << limit << " anchors");
      MemorySource source = image.source();
      DeletedChainMemo memo(limit);
      std::shuffle(files.begin(), files.end(), random);
      for (const File& file : files) {
        SCOPED_TRACE(::testing::Message() << "first " << file.first << " size " << file.size);
        ASSERT_EQ(memo_outcome(source, volume, file.first, file.size, memo), file.expected);
      }
    }
  }
}

// An exFAT line longer than a whole memo walk that runs past the end of the heap:
// the clusters without an offset lie in the window whose facts a cut-off walk
// works out, so files starting there must reach them at exactly the right count.
TEST(DeletedChainMemo, CutOffWalkPlacesClustersWithoutOffsetExactly) {
  constexpr std::uint32_t kLineEnd = 140001;  // 2 .. 140,001
  ReferenceImage image;
  link_chain(image.bytes, kFat, cluster_run(2, kLineEnd - 1), kExfatEnd);
  // The heap ends at cluster 100,001: from 100,002 on nothing has an offset.
  const ReferenceVolume volume{true, kFat, 1u << 20, 512, 100000};
  std::vector<std::pair<std::uint32_t, std::uint64_t>> files;  // first, need
  // The first file walks from the start of the line and is cut off.
  files.emplace_back(2, 10);
  for (const std::uint32_t first :
       {65537u, 65538u, 65539u, 65600u, 66000u, 70000u, 100001u, 100002u}) {
    const std::uint64_t to_edge = 100002 - std::uint64_t{first};
    for (const std::uint64_t delta : {0, 1, 2}) {
      if (to_edge + delta >= 1 && to_edge + delta <= 65536)
        files.emplace_back(first, to_edge + delta);
      if (to_edge >= delta + 1 && to_edge - delta <= 65536)
        files.emplace_back(first, to_edge - delta);
    }
    files.emplace_back(first, 65536);
  }
  MemorySource source = image.source();
  DeletedChainMemo memo;
  for (const auto& [first, need] : files) {
    const std::uint64_t size = need * volume.cluster_bytes;
    ASSERT_EQ(memo_outcome(source, volume, first, size, memo),
              reference_outcome(image, volume, first, size, false))
        << "first " << first << " need " << need;
  }
}

// Random FATs at the scale of whole memo walks: long runs (some longer than a
// walk, which is then cut off), long loops on both sides of the cap, clusters
// past the exFAT heap in the middle of runs, unreadable entries, and runs that
// jump into one another, with files starting anywhere and needing about as many
// clusters as their chains hold.
TEST(DeletedChainMemo, AnswersAsTheReferenceRulesOnLargeRandomFats) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 4; ++round) {
    const bool exfat = round % 2 == 0;
    constexpr std::uint32_t kExtent = 400000;
    // The heap (or data area) ends before the last clusters laid out: those have no offset.
    const ReferenceVolume volume{exfat, kFat, 1u << 20, 512, kExtent - 2 - 30000};
    ReferenceImage image;
    image.bytes.assign(kFat + std::uint64_t{kExtent} * 4, 0);
    constexpr std::uint32_t kRuns = kExtent - 30000;  // runs below, detours past the heap above
    std::vector<std::uint32_t>
        starts;  // the first of each run long enough to cut a walk off, then any
    std::uint32_t at = 2;
    while (at < kRuns - 10) {
      const std::uint32_t longest = random() % 2 == 0 ? 1000 : 250000;
      const std::uint32_t length = std::min<std::uint32_t>(kRuns - at, 1 + random() % longest);
      if (length > DeletedChainMemo::kWalkLimit) starts.push_back(at);
      const bool loop = random() % 3 == 0;
      for (std::uint32_t i = 0; i + 1 < length; ++i)
        set_fat_entry(image.bytes, kFat, at + i, at + i + 1);
      std::uint32_t last = exfat ? kExfatEnd : kFat32End;
      if (loop) {
        last = at;
      } else if (random() % 2 == 0) {
        last = 2 + random() % (kRuns - 2);  // into another run, or back into this one
      }
      set_fat_entry(image.bytes, kFat, at + length - 1, last);
      at += length;
    }
    // exFAT runs that pass through a cluster past the heap and come back.
    for (int detours = exfat ? 40 : 0; detours > 0; --detours) {
      const std::uint32_t from = 2 + random() % (kRuns - 2);
      const std::uint32_t past = kRuns + random() % 29000;
      set_fat_entry(image.bytes, kFat, past, image.entry(kFat, from).value_or(kExfatEnd));
      set_fat_entry(image.bytes, kFat, from, past);
    }
    for (int breaks = static_cast<int>(random() % 4); breaks > 0; --breaks) {
      image.fail(kFat + 4 * std::uint64_t{2 + random() % (kExtent - 2)}, 4);
    }
    struct File {
      std::uint32_t first;
      std::uint64_t need;
      std::string expected;
    };
    std::vector<File> files;
    while (starts.size() < 30) starts.push_back(2 + random() % (kExtent - 2));
    for (const std::uint32_t first : starts) {
      const auto [held, to_unmapped] = reference_held(image, volume, first);
      for (const std::uint64_t need : {held, held + 1, held > 1 ? held - 1 : 1, to_unmapped,
                                       to_unmapped > 1 ? to_unmapped - 1 : 1, std::uint64_t{65536},
                                       std::uint64_t{1 + random() % 65536}}) {
        if (need == 0 || need > 65536) continue;
        const std::uint64_t size = need * volume.cluster_bytes;
        files.push_back({first, need, reference_outcome(image, volume, first, size, false)});
      }
    }
    for (const bool limited : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "round " << round << (limited ? ", 500 anchors" : ""));
      MemorySource source = image.source();
      DeletedChainMemo memo(limited ? 500 : ChainFactTable::kMaxEntries);
      for (const File& file : files) {
        ASSERT_EQ(memo_outcome(source, volume, file.first, file.need * volume.cluster_bytes, memo),
                  file.expected)
            << "first " << file.first << " need " << file.need;
      }
    }
  }
}

// Files starting one cluster apart on one long chain, each needing the cap:
// walking each file's chain alone reads 65,536 entries per file; the memo reads
// each entry about twice, plus fewer than two anchor strides per file.
TEST(DeletedChainMemo, OverlappingChainsCostLinearReads) {
  constexpr std::uint32_t kFiles = 300;
  constexpr std::uint32_t kFirst = 1000;
  constexpr std::uint32_t kChain = 140000;  // longer than one memo walk
  std::vector<std::uint8_t> image;
  link_chain(image, kFat, cluster_run(kFirst, kChain), kFat32End);
  for (const bool reversed : {false, true}) {
    for (const bool exfat : {false, true}) {
      SCOPED_TRACE(::testing::Message()
                   << (exfat ? "exFAT" : "FAT32") << (reversed ? ", last file first" : ""));
      MemorySource memory(image);
      EntryReadCounter source(memory);
      DeletedChainMemo memo;
      const ReferenceVolume volume{exfat, kFat, 1u << 20, 4096, 200000};
      for (std::uint32_t i = 0; i < kFiles; ++i) {
        const std::uint32_t first = kFirst + (reversed ? kFiles - 1 - i : i);
        ASSERT_EQ(memo_outcome(source, volume, first, std::uint64_t{65536} * 4096, memo), "65536");
      }
      EXPECT_LE(source.entries(),
                DeletedChainMemo::kWalkLimit + kFiles * 2 * DeletedChainMemo::kAnchorStride);
    }
  }
}

// Files whose chains join one long loop at different places: each reads its own
// few clusters and fewer than a few anchor strides more, not the loop again.
TEST(DeletedChainMemo, FilesJoiningALongLoopReadLittle) {
  constexpr std::uint32_t kLoop = 10000;
  constexpr std::uint32_t kLoopStart = 1000;
  constexpr std::uint32_t kTails = 400;
  constexpr std::uint32_t kTailStart = 20000;
  std::vector<std::uint8_t> image;
  link_chain(image, kFat, cluster_run(kLoopStart, kLoop), kLoopStart);
  for (std::uint32_t t = 0; t < kTails; ++t) {
    // Tails of one to three clusters, joining the loop 23 clusters apart.
    std::vector<std::uint32_t> tail = cluster_run(kTailStart + 4 * t, 1 + t % 3);
    link_chain(image, kFat, tail, kLoopStart + (23 * t) % kLoop);
  }
  MemorySource memory(image);
  EntryReadCounter source(memory);
  DeletedChainMemo memo;
  const ReferenceVolume volume{false, kFat, 1u << 20, 4096, 100000};
  ReferenceImage reference{image, {}};
  for (std::uint32_t t = 0; t < kTails; ++t) {
    const std::uint32_t first = kTailStart + 4 * t;
    for (const std::uint64_t need :
         {std::uint64_t{kLoop}, std::uint64_t{kLoop + 1 + t % 3}, std::uint64_t{kLoop + 4}}) {
      const std::uint64_t size = need * 4096;
      ASSERT_EQ(memo_outcome(source, volume, first, size, memo),
                reference_outcome(reference, volume, first, size, false))
          << first << " " << need;
    }
  }
  // A file that starts on the loop itself.
  EXPECT_EQ(memo_outcome(source, volume, kLoopStart + 5, std::uint64_t{kLoop} * 4096, memo),
            std::to_string(kLoop));
  EXPECT_LE(source.entries(), 2 * kLoop + kTails * (3 + 3 * DeletedChainMemo::kAnchorStride));
}

TEST(DeletedFileClusterOffsets, SameRulesAsTheCount) {
  std::vector<std::uint8_t> image(kFat + 8192, 0);
  link_chain(image, kFat, {100, 101, 250}, kFat32End);
  link_chain(image, kFat, {5, 1000}, kExfatEnd);
  MemorySource source(image);
  const auto at = [](std::uint32_t cluster) {
    return (1u << 20) + std::uint64_t{cluster - 2} * kCluster;
  };

  auto three = deleted_file_cluster_offsets(source, cluster_area(kFat32), 100, 10000, false);
  ASSERT_TRUE(three);
  EXPECT_EQ(*three, (std::vector<std::uint64_t>{at(100), at(101), at(250)}));
  auto one = deleted_file_cluster_offsets(source, cluster_area(kFat32), 100, 4096, false);
  ASSERT_TRUE(one);
  EXPECT_EQ(*one, std::vector<std::uint64_t>{at(100)});
  auto cleared = deleted_file_cluster_offsets(source, cluster_area(kFat32), 101, 10000, false);
  ASSERT_TRUE(cleared);
  EXPECT_TRUE(cleared->empty());

  const ExfatGeometry large_heap{kFat, 1u << 20, 512, 8, 300};
  auto exfat = deleted_file_cluster_offsets(source, cluster_area(large_heap), 100, 10000, false);
  ASSERT_TRUE(exfat);
  EXPECT_EQ(*exfat, (std::vector<std::uint64_t>{at(100), at(101), at(250)}));
  auto no_chain = deleted_file_cluster_offsets(source, cluster_area(kExfat), 100, 10000, true);
  ASSERT_TRUE(no_chain);
  EXPECT_TRUE(no_chain->empty());
  EXPECT_EQ(
      deleted_file_cluster_offsets(source, cluster_area(kExfat), 5, 8192, false).error().message(),
      "invalid structure: exFAT cluster outside heap");
}

}  // namespace
}  // namespace kestrel::testing
