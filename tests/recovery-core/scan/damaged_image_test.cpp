// Real images with bytes of their boot sectors, FATs and directories damaged
// at random (seeded, so every run is the same): the scan ends with a result or
// an error, never a crash, and what it reports stays consistent - candidate ids
// unique, data inside the image. A scan of every folder succeeds whenever the
// plain scan does and finds everything it finds. Run under the sanitize
// preset, this also catches out-of-bounds reads and undefined behaviour on
// damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "recovery-core/partition/partition_table.hpp"
#include "recovery-core/scan/scan_filesystems.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/memory_source.hpp"

namespace kestrel::testing {
namespace {

std::uint32_t le(const std::vector<std::uint8_t>& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes[at + i];
  return value;
}

struct Region {
  std::uint64_t offset;
  std::uint64_t length;
};

struct DamageCase {
  const char* fixture;
  // The metadata worth damaging, found from the undamaged image.
  std::vector<Region> (*regions)(const std::vector<std::uint8_t>& image);
};

std::vector<Region> fat32_regions(const std::vector<std::uint8_t>& image) {
  const std::uint64_t sector = le(image, 11, 2);
  const std::uint64_t fat_offset = le(image, 14, 2) * sector;
  const std::uint64_t data_offset =
      fat_offset + le(image, 16, 1) * std::uint64_t{le(image, 36, 4)} * sector;
  const std::uint64_t cluster = sector * le(image, 13, 1);
  return {{0, 512},                      // boot sector
          {fat_offset, 64 * 1024},       // the start of the FAT
          {data_offset, 64 * cluster}};  // the root and the first directories
}

// The heap's first clusters hold the root, the bitmap and the first folders.
std::vector<Region> exfat_folder_regions(const std::vector<std::uint8_t>& image) {
  const std::uint64_t sector = std::uint64_t{1} << image[108];
  const std::uint64_t cluster = sector << image[109];
  return {{le(image, 80, 4) * sector, 16 * 1024}, {le(image, 88, 4) * sector, 24 * cluster}};
}

std::vector<Region> exfat_regions(const std::vector<std::uint8_t>& image) {
  const std::uint64_t sector = std::uint64_t{1} << image[108];
  const std::uint64_t cluster = sector << image[109];
  const std::uint64_t fat_offset = le(image, 80, 4) * sector;
  const std::uint64_t heap_offset = le(image, 88, 4) * sector;
  const std::uint64_t root = le(image, 96, 4);
  return {{0, 24 * sector},                                // both boot regions
          {fat_offset, 16 * 1024},                         // the start of the FAT
          {heap_offset + (root - 2) * cluster, cluster}};  // the root's first cluster
}

// The report's candidate ids, after checking that they are unique and that
// every candidate is plausible.
std::set<std::string> consistent_ids(const FilesystemReport& report, std::uint64_t capacity,
                                     int round) {
  std::set<std::string> ids;
  for (const RecoveryCandidate& candidate : report.candidates) {
    EXPECT_TRUE(ids.insert(candidate.id).second) << "round " << round << ": " << candidate.id;
    EXPECT_LT(candidate.data_offset, capacity) << "round " << round << ": " << candidate.id;
    EXPECT_GT(candidate.size, 0u);
    EXPECT_FALSE(candidate.name.empty());
  }
  return ids;
}

class DamagedImages : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedImages, ScanEndsConsistently) {
  MemorySource source(load_fixture(GetParam().fixture));
  std::vector<std::uint8_t>& bytes = source.bytes();
  const std::vector<Region> regions = GetParam().regions(bytes);
  std::mt19937_64 random(20261208);
  int scanned = 0;
  int failed = 0;
  for (int round = 0; round < 400; ++round) {
    // Damage 1 to 16 bytes, remembering them to restore the image afterwards.
    std::vector<std::pair<std::uint64_t, std::uint8_t>> saved;
    const int count = 1 + static_cast<int>(random() % 16);
    for (int i = 0; i < count; ++i) {
      const Region& region = regions[random() % regions.size()];
      const std::uint64_t at = region.offset + random() % region.length;
      saved.emplace_back(at, bytes[at]);
      bytes[at] = random() % 4 == 0 ? std::uint8_t{0} : static_cast<std::uint8_t>(random());
    }

    const std::uint64_t capacity = bytes.size();
    auto scan = [&](const ScanOptions& options)
        -> std::expected<std::vector<FilesystemReport>, RecoveryError> {
      auto table = detect_partition_table(source, capacity, 512);
      if (!table) return std::unexpected(table.error());
      return scan_filesystems(source, capacity, *table, options);
    };
    auto reports = scan({});
    if (reports) {
      ++scanned;
      auto everywhere = scan(ScanOptions{.all_directories = true});
      ASSERT_TRUE(everywhere) << "round " << round << ": " << everywhere.error().message();
      ASSERT_EQ(everywhere->size(), reports->size());
      for (std::size_t index = 0; index < reports->size(); ++index) {
        const std::set<std::string> ids = consistent_ids((*reports)[index], capacity, round);
        const std::set<std::string> all_ids = consistent_ids((*everywhere)[index], capacity, round);
        EXPECT_TRUE(std::ranges::includes(all_ids, ids)) << "round " << round;
      }
    } else {
      ++failed;
      EXPECT_FALSE(reports.error().message().empty());
    }
    for (auto it = saved.rbegin(); it != saved.rend(); ++it) bytes[it->first] = it->second;
  }
  // Both outcomes occur: the damage is neither always fatal nor always harmless.
  EXPECT_GT(scanned, 0);
  EXPECT_GT(failed, 0);
}

INSTANTIATE_TEST_SUITE_P(
    RealImages, DamagedImages,
    ::testing::Values(DamageCase{"filesystems/fat32-mixed.img", fat32_regions},
                      DamageCase{"filesystems/exfat-root.img", exfat_regions},
                      DamageCase{"filesystems/exfat-many-root-files.img", exfat_regions},
                      DamageCase{"filesystems/exfat-camera-card.img", exfat_folder_regions},
                      DamageCase{"filesystems/fat32-deleted-folders.img", fat32_regions}),
    [](const ::testing::TestParamInfo<DamageCase>& param_info) {
      std::string name = param_info.param.fixture;
      name = name.substr(name.find('/') + 1);
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

}  // namespace
}  // namespace kestrel::testing
