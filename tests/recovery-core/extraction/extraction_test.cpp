#include "recovery-core/extraction/extraction.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "os/os_error.hpp"
#include "recovery-core/chains/deleted_file_chain.hpp"
#include "recovery-core/exfat/exfat_geometry.hpp"
#include "recovery-core/fat/fat_geometry.hpp"
#include "tests/support/fat_image.hpp"
#include "tests/support/memory_source.hpp"
#include "tests/support/os_error_codes.hpp"
#include "tests/support/temp_dir.hpp"

#if !defined(_WIN32)
#include <sys/resource.h>

#include <csignal>
#endif

namespace kestrel::testing {
namespace {

constexpr std::uint64_t kFat = 1024;
constexpr std::uint64_t kData = 64 * 1024;
constexpr std::uint32_t kCluster = 4096;
constexpr std::uint32_t kClusters = 300;
constexpr std::uint32_t kFat32End = 0x0FFFFFFF;

const ClusterArea kFat32 = cluster_area(FatGeometry{kFat, kData, 1, 512, 8, kClusters});
const ClusterArea kExfat = cluster_area(ExfatGeometry{kFat, kData, 512, 8, kClusters});

std::uint64_t offset_of(std::uint32_t cluster) {
  return kData + std::uint64_t{cluster - 2} * kCluster;
}

// An image whose every data cluster holds a pattern of its own.
std::vector<std::uint8_t> patterned_image() {
  std::vector<std::uint8_t> image(kData + std::uint64_t{kClusters} * kCluster, 0);
  for (std::uint32_t cluster = 2; cluster < kClusters + 2; ++cluster) {
    for (std::uint32_t i = 0; i < kCluster; ++i) {
      image[offset_of(cluster) + i] = static_cast<std::uint8_t>(cluster * 7 + i * 31 + (i >> 8));
    }
  }
  return image;
}

std::string slice(const std::vector<std::uint8_t>& image, std::uint64_t offset,
                  std::uint64_t length) {
  return std::string(image.begin() + static_cast<std::ptrdiff_t>(offset),
                     image.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

RecoveryCandidate candidate_of(DataLayout layout, std::uint32_t first, std::uint64_t size,
                               Recoverability recoverability, std::uint64_t data_offset,
                               std::uint32_t cluster_size = kCluster) {
  RecoveryCandidate candidate;
  candidate.id = "test:1:1";
  candidate.partition_index = 1;
  candidate.name = "file.bin";
  candidate.size = size;
  candidate.first_cluster = first;
  candidate.data_offset = data_offset;
  candidate.cluster_size = cluster_size;
  candidate.recoverability = recoverability;
  candidate.layout = layout;
  return candidate;
}

std::string outcome(const std::expected<std::uint64_t, RecoveryError>& result) {
  return result ? std::to_string(*result) : result.error().message();
}

TEST(ExtractCandidate, ReadsAlongTheChainOrContiguously) {
  const std::vector<std::uint8_t> base = patterned_image();
  std::vector<std::uint8_t> chained = base;
  link_chain(chained, kFat, {100, 101, 250}, kFat32End);
  const std::string along_chain = slice(base, offset_of(100), 4096) +
                                  slice(base, offset_of(101), 4096) +
                                  slice(base, offset_of(250), 1808);

  struct Case {
    const char* what;
    const std::vector<std::uint8_t>& image;
    RecoveryCandidate candidate;
    std::string expected;
    std::size_t largest_read;
  };
  const std::vector<Case> cases = {
      {"FAT32 chain 100, 101, 250", chained,
       candidate_of(kFat32, 100, 10000, Recoverability::FatChain, offset_of(100)), along_chain,
       8192},
      {"exFAT chain 100, 101, 250", chained,
       candidate_of(kExfat, 100, 10000, Recoverability::FatChain, offset_of(100)), along_chain,
       8192},
      {"cleared chain read contiguously", base,
       candidate_of(kFat32, 100, 10000, Recoverability::ContiguousLikely, offset_of(100)),
       slice(base, offset_of(100), 10000), 10000},
      {"fat-chain whose chain is gone by extraction reads contiguously", base,
       candidate_of(kFat32, 100, 10000, Recoverability::FatChain, offset_of(100)),
       slice(base, offset_of(100), 10000), 10000},
      {"contiguous candidate ignores a surviving chain", chained,
       candidate_of(kFat32, 100, 10000, Recoverability::ContiguousLikely, offset_of(100)),
       slice(base, offset_of(100), 10000), 10000},
      {"one-cluster file", chained,
       candidate_of(kFat32, 250, 100, Recoverability::ContiguousLikely, offset_of(250)),
       slice(base, offset_of(250), 100), 100},
      {"whole clusters", chained,
       candidate_of(kFat32, 100, 8192, Recoverability::FatChain, offset_of(100)),
       slice(base, offset_of(100), 8192), 8192},
      {"empty file", base,
       candidate_of(kFat32, 100, 0, Recoverability::ContiguousLikely, offset_of(100)), "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    MemorySource source(c.image);
    EXPECT_EQ(outcome(extract_candidate(source, c.candidate, dir / "out")),
              std::to_string(c.candidate.size));
    EXPECT_EQ(read_file(dir / "out"), c.expected);
    EXPECT_EQ(source.largest_read(), c.largest_read);  // adjacent clusters in one read
  }
}

TEST(ExtractCandidate, NeverOverwrites) {
  MemorySource source(patterned_image());
  const RecoveryCandidate candidate =
      candidate_of(kFat32, 100, 10000, Recoverability::ContiguousLikely, offset_of(100));
  TempDir dir;

  write_file(dir / "existing", "keep me");
  EXPECT_EQ(outcome(extract_candidate(source, candidate, dir / "existing")),
            "destination already exists");
  EXPECT_EQ(read_file(dir / "existing"), "keep me");

  std::filesystem::create_directory(dir / "folder");
  EXPECT_EQ(outcome(extract_candidate(source, candidate, dir / "folder")),
            "destination already exists");

  EXPECT_EQ(outcome(extract_candidate(source, candidate, dir / "missing" / "out")),
            "I/O error: " + os_error_text(kNoSuchDirectoryCode));
  EXPECT_EQ(source.read_count(), 0u);
}

#if !defined(_WIN32)
// Creating a link takes a privilege on Windows, and Wine only pretends to make
// one, so this case runs on Linux.
TEST(ExtractCandidate, DanglingLinkIsNotFollowed) {
  MemorySource source(patterned_image());
  const RecoveryCandidate candidate =
      candidate_of(kFat32, 100, 10000, Recoverability::ContiguousLikely, offset_of(100));
  TempDir dir;
  // A name that appeared after any check made before: a dangling link is not followed.
  std::filesystem::create_symlink(dir / "target", dir / "link");
  EXPECT_EQ(outcome(extract_candidate(source, candidate, dir / "link")),
            "destination already exists");
  EXPECT_FALSE(std::filesystem::exists(dir / "target"));
  EXPECT_EQ(source.read_count(), 0u);
}
#endif

TEST(ExtractCandidate, FailuresKeepWhatWasWritten) {
  const std::vector<std::uint8_t> base = patterned_image();
  std::vector<std::uint8_t> chained = base;
  link_chain(chained, kFat, {100, 101, 250}, kFat32End);
  struct Case {
    const char* what;
    std::vector<std::uint8_t> image;
    std::function<void(MemorySource&)> failures;
    RecoveryCandidate candidate;
    std::string error;
    std::string written;
  };
  std::vector<Case> cases;
  {
    std::vector<std::uint8_t> truncated(
        base.begin(), base.begin() + static_cast<std::ptrdiff_t>(offset_of(100) + 5000));
    cases.push_back(
        {"image truncated inside the data", std::move(truncated), [](MemorySource&) {},
         candidate_of(kFat32, 100, 10000, Recoverability::ContiguousLikely, offset_of(100)),
         "short read: expected=4096 actual=904", slice(base, offset_of(100), 4096)});
  }
  cases.push_back(
      {"third cluster of the chain unreadable", chained,
       [](MemorySource& s) { s.fail_range(offset_of(250), 1, SourceError::device_disconnected()); },
       candidate_of(kFat32, 100, 10000, Recoverability::FatChain, offset_of(100)),
       "device disconnected during read",
       slice(base, offset_of(100), 4096) + slice(base, offset_of(101), 4096)});
  // Clusters 100 and 101 are read in one call; when that fails, the clusters
  // before the bad one still reach the file.
  cases.push_back(
      {"second cluster of an adjacent run unreadable", chained,
       [](MemorySource& s) { s.fail_range(offset_of(101), 1, SourceError::device_disconnected()); },
       candidate_of(kFat32, 100, 10000, Recoverability::FatChain, offset_of(100)),
       "device disconnected during read", slice(base, offset_of(100), 4096)});
  cases.push_back({"metadata only", base, [](MemorySource&) {},
                   candidate_of(kFat32, 100, 10000, Recoverability::MetadataOnly, offset_of(100)),
                   "unsupported: candidate has metadata only and cannot be recovered", ""});
  cases.push_back(
      {"no cluster size", base, [](MemorySource&) {},
       candidate_of(kFat32, 100, 10000, Recoverability::ContiguousLikely, offset_of(100), 0),
       "invalid structure: candidate cluster size is zero", ""});
  {
    std::vector<std::uint8_t> stray = base;
    link_chain(stray, kFat, {100, 1000}, 0xFFFFFFFF);
    cases.push_back({"exFAT chain leaves the heap", std::move(stray), [](MemorySource&) {},
                     candidate_of(kExfat, 100, 8192, Recoverability::FatChain, offset_of(100)),
                     "invalid structure: exFAT cluster outside heap", ""});
  }
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    MemorySource source(std::move(c.image));
    c.failures(source);
    EXPECT_EQ(outcome(extract_candidate(source, c.candidate, dir / "out")), c.error);
    ASSERT_TRUE(std::filesystem::exists(dir / "out"));
    EXPECT_EQ(read_file(dir / "out"), c.written);
  }
}

TEST(ExtractCandidate, HugeClustersAreReadInPieces) {
  constexpr std::uint64_t kHeap = 4096;
  constexpr std::uint64_t kSize = (3u << 20) + 5;
  std::vector<std::uint8_t> image(kHeap + kSize);
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>(i * 13 + (i >> 12));
  const std::string data = slice(image, kHeap, kSize);

  struct Case {
    const char* what;
    std::uint32_t sectors_per_cluster;  // of 4096 bytes
    std::size_t image_length;
    std::string result;
    std::string written;
    std::size_t reads;
    std::size_t largest_read;
  };
  const std::vector<Case> cases = {
      {"32 MiB clusters: one read per cluster", 8192, image.size(), std::to_string(kSize), data, 1,
       kSize},
      {"64 MiB clusters: 1 MiB pieces", 16384, image.size(), std::to_string(kSize), data, 4,
       1u << 20},
      {"2 GiB clusters: 1 MiB pieces", 1u << 19, image.size(), std::to_string(kSize), data, 4,
       1u << 20},
      // A short piece reports the short read of the whole run, as one read would have.
      {"64 MiB clusters, image ends halfway", 16384, kHeap + (3u << 19),
       "short read: expected=3145733 actual=1572864", data.substr(0, 1u << 20), 2, 1u << 20},
      {"32 MiB clusters, image ends halfway", 8192, kHeap + (3u << 19),
       "short read: expected=3145733 actual=1572864", "", 1, kSize},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ClusterArea volume =
        cluster_area(ExfatGeometry{0, kHeap, 4096, c.sectors_per_cluster, 4});
    MemorySource source(std::vector<std::uint8_t>(
        image.begin(), image.begin() + static_cast<std::ptrdiff_t>(c.image_length)));
    const RecoveryCandidate candidate = candidate_of(
        volume, 2, kSize, Recoverability::ContiguousLikely, kHeap, 4096 * c.sectors_per_cluster);
    TempDir dir;
    EXPECT_EQ(outcome(extract_candidate(source, candidate, dir / "out")), c.result);
    EXPECT_EQ(read_file(dir / "out"), c.written);
    EXPECT_EQ(source.read_count(), c.reads);
    EXPECT_EQ(source.largest_read(), c.largest_read);
  }
}

// Windows has no per-process file-size limit to make a write fail part-way
// through a file, so this case runs on Linux only.
#if !defined(_WIN32)
// Lowers this process's file-size limit for one scope, so that a write past it fails
// with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    active_ = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool active() const { return active_; }

 private:
  rlimit saved_{};
  void (*previous_handler_)(int) = SIG_DFL;
  bool active_ = false;
};

TEST(ExtractCandidate, WriteFailureIsAnIoErrorAndKeepsThePartialFile) {
  MemorySource source(patterned_image());
  const RecoveryCandidate candidate =
      candidate_of(kFat32, 100, 10000, Recoverability::ContiguousLikely, offset_of(100));
  TempDir dir;
  std::expected<std::uint64_t, RecoveryError> result;
  {
    FileSizeLimit limit(4096);
    if (!limit.active()) GTEST_SKIP() << "cannot lower the file-size limit here";
    result = extract_candidate(source, candidate, dir / "out");
  }
  EXPECT_EQ(outcome(result), "I/O error: File too large (os error 27)");
  EXPECT_EQ(read_file(dir / "out"), slice(patterned_image(), offset_of(100), 4096));
}
#endif

// Answers every read in full with zero bytes, at any offset.
class EndlessZeros final : public ByteSource {
 public:
  std::expected<std::size_t, SourceError> read_at(std::uint64_t,
                                                  std::span<std::uint8_t> buffer) override {
    std::memset(buffer.data(), 0, buffer.size());
    return buffer.size();
  }
  const DeviceInfo& identity() const override { return identity_; }

 private:
  DeviceInfo identity_;
};

TEST(ExtractCandidate, ContiguousPositionOverflow) {
  EndlessZeros source;
  TempDir dir;
  // A heap that would end past 2^64 bounds nothing: the reads go on to the top.
  const ClusterArea top = cluster_area(FatGeometry{kFat, UINT64_MAX - 4095, 1, 512, 8, 2});
  const RecoveryCandidate ends_at_the_top =
      candidate_of(top, 2, 4096, Recoverability::ContiguousLikely, UINT64_MAX - 4095);
  EXPECT_EQ(outcome(extract_candidate(source, ends_at_the_top, dir / "a")), "4096");
  const RecoveryCandidate runs_past =
      candidate_of(top, 2, 8192, Recoverability::ContiguousLikely, UINT64_MAX - 4095);
  EXPECT_EQ(outcome(extract_candidate(source, runs_past, dir / "b")), "byte range overflow");
  EXPECT_EQ(read_file(dir / "b"), std::string(4096, '\0'));
}

// The image goes on past the heap, but a file does not: reads stop at the end
// of the last cluster with the short read the end of the image gives.
TEST(ExtractCandidate, ReadsStopAtTheEndOfTheHeap) {
  std::vector<std::uint8_t> image = patterned_image();
  image.resize(image.size() + 64 * 1024, 0xEE);
  struct Case {
    const char* what;
    RecoveryCandidate candidate;
    std::string planned;
    std::string result;
    std::string written;
  };
  const std::vector<Case> cases = {
      {"FAT32, two clusters left of three",
       candidate_of(kFat32, 300, 3 * 4096, Recoverability::ContiguousLikely, offset_of(300)),
       "8192", "short read: expected=4096 actual=0", slice(image, offset_of(300), 8192)},
      {"exFAT, a claim of 2^62 bytes",
       candidate_of(kExfat, 301, std::uint64_t{1} << 62, Recoverability::ContiguousLikely,
                    offset_of(301)),
       "4096", "short read: expected=4096 actual=0", slice(image, offset_of(301), 4096)},
      {"starting past the heap, inside the image",
       candidate_of(kFat32, 305, 100, Recoverability::ContiguousLikely, offset_of(305)), "0",
       "short read: expected=100 actual=0", ""},
      {"ending on the heap's last byte",
       candidate_of(kExfat, 300, 8192, Recoverability::ContiguousLikely, offset_of(300)), "8192",
       "8192", slice(image, offset_of(300), 8192)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemorySource source(image);
    EXPECT_EQ(outcome(planned_extraction_length(source, c.candidate)), c.planned);
    TempDir dir;
    EXPECT_EQ(outcome(extract_candidate(source, c.candidate, dir / "out")), c.result);
    EXPECT_EQ(read_file(dir / "out"), c.written);
  }
}

TEST(CandidateClusterOffsets, RebuildsTheScanOffsets) {
  std::vector<std::uint8_t> image(kFat + 4096, 0);
  link_chain(image, kFat, {100, 101, 250}, kFat32End);
  MemorySource source(image);

  auto fat32 = candidate_cluster_offsets(
      source, candidate_of(kFat32, 100, 10000, Recoverability::FatChain, offset_of(100)));
  ASSERT_TRUE(fat32);
  EXPECT_EQ(*fat32, (std::vector<std::uint64_t>{offset_of(100), offset_of(101), offset_of(250)}));

  RecoveryCandidate exfat =
      candidate_of(kExfat, 100, 10000, Recoverability::FatChain, offset_of(100));
  auto with_chain = candidate_cluster_offsets(source, exfat);
  ASSERT_TRUE(with_chain);
  EXPECT_EQ(*with_chain, *fat32);
  exfat.no_fat_chain = true;
  const std::size_t reads = source.read_count();
  auto without_chain = candidate_cluster_offsets(source, exfat);
  ASSERT_TRUE(without_chain);
  EXPECT_TRUE(without_chain->empty());
  EXPECT_EQ(source.read_count(), reads);

  // The scan's count for the same file is the length of the rebuilt list.
  DeletedChainMemo memo;
  for (std::uint64_t size : {1u, 4096u, 8192u, 10000u, 12288u, 12289u}) {
    auto offsets = candidate_cluster_offsets(
        source, candidate_of(kFat32, 100, size, Recoverability::FatChain, offset_of(100)));
    ASSERT_TRUE(offsets);
    EXPECT_EQ(deleted_file_offset_count(source, kFat32, 100, size, false, memo), offsets->size())
        << size;
  }
}

}  // namespace
}  // namespace kestrel::testing
