// Recognising file systems and checking their boot structures: FAT32 BPB
// checks and geometry, exFAT main/backup boot regions, report contents.
#include "recovery-core/scan/scan_filesystems.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "recovery-core/exfat/exfat_boot_region.hpp"
#include "recovery-core/exfat/exfat_messages.hpp"
#include "recovery-core/fat/fat_messages.hpp"
#include "tests/support/crafted_volumes.hpp"

namespace kestrel::testing {
namespace {

PartitionTable super_floppy(std::uint64_t sectors, std::uint32_t sector_size = 512) {
  PartitionTable table;
  table.scheme = PartitionScheme::SuperFloppy;
  table.logical_sector_size = sector_size;
  table.partitions.push_back(
      PartitionEntry{1, 0, sectors, std::nullopt, std::nullopt, std::nullopt});
  return table;
}

std::string scan_error(ByteSource& source, std::uint64_t length, const PartitionTable& table) {
  auto reports = scan_filesystems(source, length, table);
  return reports ? "no error" : reports.error().message();
}

// ---- FAT32 ----

struct Bpb {
  std::uint16_t bytes_per_sector = 512;
  std::uint8_t sectors_per_cluster = 8;
  std::uint16_t reserved = 32;
  std::uint8_t fats = 2;
  std::uint16_t total16 = 0;
  std::uint32_t total32 = 131072;  // 64 MiB
  std::uint32_t fat_size = 128;
  std::uint32_t root = 2;
  std::string label = "MY CARD    ";
};

std::vector<std::uint8_t> fat32_boot_sector(const Bpb& bpb) {
  std::vector<std::uint8_t> sector(512, 0);
  auto put16 = [&](std::size_t at, std::uint16_t v) {
    sector[at] = v & 0xFF;
    sector[at + 1] = v >> 8;
  };
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) sector[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  sector[0] = 0xEB;
  std::memcpy(&sector[3], "mkfs.fat", 8);
  put16(11, bpb.bytes_per_sector);
  sector[13] = bpb.sectors_per_cluster;
  put16(14, bpb.reserved);
  sector[16] = bpb.fats;
  put16(19, bpb.total16);
  put32(32, bpb.total32);
  put32(36, bpb.fat_size);
  put32(44, bpb.root);
  std::memcpy(&sector[71], bpb.label.data(), std::min<std::size_t>(bpb.label.size(), 11));
  std::memcpy(&sector[82], "FAT32   ", 8);
  sector[510] = 0x55;
  sector[511] = 0xAA;
  return sector;
}

struct Fat32Image {
  std::unique_ptr<SparseSource> source;
  std::uint64_t length;
};

Fat32Image fat32_image(const Bpb& bpb, std::uint64_t length = 64ull << 20) {
  Fat32Image image{std::make_unique<SparseSource>(length), length};
  image.source->write(0, fat32_boot_sector(bpb));
  return image;
}

TEST(Fat32BootSector, GeometryAndLabel) {
  Fat32Image image = fat32_image(Bpb{});
  auto reports = scan_filesystems(*image.source, image.length, super_floppy(131072));
  ASSERT_TRUE(reports) << reports.error().message();
  ASSERT_EQ(reports->size(), 1u);
  const FilesystemReport& report = (*reports)[0];
  EXPECT_EQ(report.partition_index, 1u);
  EXPECT_EQ(report.kind, FilesystemKind::Fat32);
  EXPECT_EQ(report.label, "MY CARD");
  EXPECT_EQ(report.validation, BootValidation{});
  EXPECT_TRUE(report.candidates.empty());
  EXPECT_EQ(report.warnings,
            std::vector<std::string>(std::begin(kFat32Warnings), std::end(kFat32Warnings)));
  ASSERT_EQ(report.warnings.size(), 4u);
}

TEST(Fat32BootSector, Labels) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"NO NAME    ", std::nullopt},
      {"           ", std::nullopt},
      {"  CARD 1   ", "CARD 1"},
      {"NO NAMEX   ", "NO NAMEX"},
      {"CAF\xC3\xA9      ", "CAF\xC3\xA9"},
  };
  for (const auto& [stored, expected] : cases) {
    Bpb bpb;
    bpb.label = stored;
    Fat32Image image = fat32_image(bpb);
    auto reports = scan_filesystems(*image.source, image.length, super_floppy(131072));
    ASSERT_TRUE(reports) << stored;
    EXPECT_EQ((*reports)[0].label, expected) << stored;
  }
}

TEST(Fat32BootSector, InvalidFields) {
  struct Case {
    const char* label;
    Bpb bpb;
    std::string expected;
  };
  auto with = [](auto change) {
    Bpb bpb;
    change(bpb);
    return bpb;
  };
  const std::string invalid = "invalid structure: invalid FAT32 BPB";
  const std::vector<Case> cases = {
      {"768-byte sectors", with([](Bpb& b) { b.bytes_per_sector = 768; }), invalid},
      {"256-byte sectors", with([](Bpb& b) { b.bytes_per_sector = 256; }), invalid},
      {"no sector size", with([](Bpb& b) { b.bytes_per_sector = 0; }), invalid},
      {"3 sectors per cluster", with([](Bpb& b) { b.sectors_per_cluster = 3; }), invalid},
      {"0 sectors per cluster", with([](Bpb& b) { b.sectors_per_cluster = 0; }), invalid},
      {"no FAT", with([](Bpb& b) { b.fats = 0; }), invalid},
      {"FAT of no sectors", with([](Bpb& b) { b.fat_size = 0; }), invalid},
      {"data start past the end", with([](Bpb& b) { b.total32 = 200; }),
       "invalid structure: FAT32 data area underflow"},
      {"FAT area beyond 32 bits", with([](Bpb& b) {
         b.fats = 255;
         b.fat_size = 0x02000000;
       }),
       "byte range overflow"},
      {"data start beyond 32 bits", with([](Bpb& b) {
         b.fats = 1;
         b.fat_size = 0xFFFFFFF0;
         b.reserved = 0x20;
       }),
       "byte range overflow"},
      // Data area from byte 512 * (32 + 256) for 131072 - 288 sectors: one byte too long.
      {"data area past the image", with([](Bpb& b) { b.total32 = 131073; }),
       "byte range exceeds source: offset=147456 length=66961920 capacity=67108864"},
      // TotSec16 wins when it is non-zero.
      {"total in the 16-bit field", with([](Bpb& b) { b.total16 = 100; }),
       "invalid structure: FAT32 data area underflow"},
  };
  for (const Case& c : cases) {
    Fat32Image image = fat32_image(c.bpb);
    EXPECT_EQ(scan_error(*image.source, image.length, super_floppy(131072)), c.expected) << c.label;
  }
}

TEST(Fat32BootSector, SectorSizeOfTheBpbGovernsTheVolume) {
  // 4096-byte volume sectors read through a 512-byte partition table.
  Bpb bpb;
  bpb.bytes_per_sector = 4096;
  bpb.sectors_per_cluster = 1;
  bpb.reserved = 4;
  bpb.fats = 1;
  bpb.fat_size = 16;
  bpb.total32 = 16384;  // 64 MiB
  Fat32Image image = fat32_image(bpb);
  // A deleted file in the root (cluster 2 at sector 20 of 4096 bytes).
  RawEntry entry = fat_deleted(fat_short_entry("AFILE   TXT", 0x20, 5, 10));
  image.source->write(20 * 4096, entry);
  auto reports = scan_filesystems(*image.source, image.length, super_floppy(131072));
  ASSERT_TRUE(reports) << reports.error().message();
  ASSERT_EQ((*reports)[0].candidates.size(), 1u);
  const RecoveryCandidate& c = (*reports)[0].candidates[0];
  EXPECT_EQ(c.id, "fat32:1:" + std::to_string(20 * 4096));
  EXPECT_EQ(c.cluster_size, 4096u);
  EXPECT_EQ(c.data_offset, (20u + 3u) * 4096u);
}

// ---- Partitions ----

TEST(ScanFilesystems, PartitionsBeyondTheImageAndUnknownKinds) {
  Fat32Image image = fat32_image(Bpb{});
  PartitionTable table;
  table.scheme = PartitionScheme::Mbr;
  table.logical_sector_size = 512;
  table.partitions = {
      PartitionEntry{1, 0, 131072, 0x0C, std::nullopt, std::nullopt},
      PartitionEntry{3, 1ull << 20, 100, 0x07, std::nullopt, std::nullopt},  // starts past the end
      PartitionEntry{4, 100000, 100, 0x83, std::nullopt, std::nullopt},      // blank
  };
  auto reports = scan_filesystems(*image.source, image.length, table);
  ASSERT_TRUE(reports) << reports.error().message();
  ASSERT_EQ(reports->size(), 2u);
  EXPECT_EQ((*reports)[0].kind, FilesystemKind::Fat32);
  const FilesystemReport& blank = (*reports)[1];
  EXPECT_EQ(blank.partition_index, 4u);
  EXPECT_EQ(blank.kind, FilesystemKind::Unknown);
  EXPECT_EQ(blank.label, std::nullopt);
  EXPECT_EQ(blank.validation, BootValidation{});
  EXPECT_TRUE(blank.candidates.empty());
  EXPECT_EQ(blank.warnings, std::vector<std::string>{"FAT32/exFAT signature not found"});
}

TEST(ScanFilesystems, PartitionOffsetOverflowAndShortFirstSector) {
  SparseSource source(1000);
  PartitionTable table = super_floppy(1);
  table.partitions[0].start_lba = std::uint64_t{1} << 60;
  EXPECT_EQ(scan_error(source, 1000, table), "byte range overflow");
  table.partitions[0].start_lba = 1;  // byte 512: only 488 bytes remain
  EXPECT_EQ(scan_error(source, 1000, table), "short read: expected=512 actual=488");
}

// ---- exFAT ----

struct ExfatCase {
  CraftedExfat volume{64, 2};  // 2048-byte clusters
  ExfatCase() {
    volume.chain({2});
    volume.put_directory_entries({2}, 0, exfat_file_set(false, u"kept.bin", 10, 100));
  }
  std::expected<std::vector<FilesystemReport>, RecoveryError> scan() {
    const std::uint64_t length = volume.source().capacity();
    return scan_filesystems(volume.source(), length, super_floppy(length / 512));
  }
  std::vector<std::uint8_t> region() const { return volume.boot_region(2); }
};

TEST(ExfatBootRegion, HealthyRegions) {
  ExfatCase c;
  c.volume.write_boot_regions(2);
  auto reports = c.scan();
  ASSERT_TRUE(reports) << reports.error().message();
  const FilesystemReport& report = (*reports)[0];
  EXPECT_EQ(report.kind, FilesystemKind::Exfat);
  EXPECT_EQ(report.label, std::nullopt);
  EXPECT_EQ(report.validation, (BootValidation{true, true, false}));
  EXPECT_EQ(report.warnings,
            std::vector<std::string>(std::begin(kExfatWarnings), std::end(kExfatWarnings)));
  ASSERT_EQ(report.candidates.size(), 1u);
  EXPECT_EQ(report.candidates[0].name, "kept.bin");
  EXPECT_EQ(report.candidates[0].cluster_size, 2048u);
}

TEST(ExfatBootRegion, MainAndBackupDecisions) {
  struct Case {
    const char* label;
    bool flip_main;
    bool flip_backup;
    BootValidation validation;
    std::optional<std::string> warning;
  };
  const std::vector<Case> cases = {
      {"main damaged", true, false, {false, true, true}, std::string(kExfatMainInvalidWarning)},
      {"backup damaged",
       false,
       true,
       {true, false, false},
       std::string(kExfatBackupInvalidWarning)},
  };
  for (const Case& t : cases) {
    ExfatCase c;
    std::vector<std::uint8_t> main = c.region();
    std::vector<std::uint8_t> backup = c.region();
    if (t.flip_main) main[200] ^= 0x01;  // one byte of boot code
    if (t.flip_backup) backup[200] ^= 0x01;
    c.volume.write_region(0, main);
    c.volume.write_region(12, backup);
    auto reports = c.scan();
    ASSERT_TRUE(reports) << t.label << ": " << reports.error().message();
    const FilesystemReport& report = (*reports)[0];
    EXPECT_EQ(report.validation, t.validation) << t.label;
    ASSERT_EQ(report.warnings.size(), 3u) << t.label;
    EXPECT_EQ(report.warnings[0], t.warning) << t.label;
    EXPECT_EQ(report.candidates.size(), 1u) << t.label;
  }
}

TEST(ExfatBootRegion, RegionErrors) {
  struct Case {
    const char* label;
    std::function<void(std::vector<std::uint8_t>& main, std::vector<std::uint8_t>& backup)> change;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"both damaged",
       [](auto& main, auto& backup) {
         main[300] ^= 0x80;
         backup[301] ^= 0x80;
       },
       "checksum mismatch: exFAT main and backup boot regions"},
      {"backup with another cluster count",
       [](auto&, auto& backup) {
         backup[92] ^= 0x01;
         CraftedExfat::seal_region(backup);
       },
       "invalid structure: exFAT main and backup boot layouts differ"},
      {"backup with another serial number",
       [](auto&, auto& backup) {
         backup[100] ^= 0x01;
         CraftedExfat::seal_region(backup);
       },
       "invalid structure: exFAT main and backup boot layouts differ"},
      {"sector shift 8", [](auto& main, auto&) { main[108] = 8; },
       "invalid structure: invalid exFAT shifts"},
      {"sector shift 13", [](auto& main, auto&) { main[108] = 13; },
       "invalid structure: invalid exFAT shifts"},
      {"cluster shift 26 in both",
       [](auto& main, auto& backup) {
         main[109] = backup[109] = 26;
         CraftedExfat::seal_region(main);
         CraftedExfat::seal_region(backup);
       },
       "invalid structure: invalid exFAT shifts"},
      {"cluster of 4 GiB",
       [](auto& main, auto& backup) {
         main[109] = backup[109] = 23;
         CraftedExfat::seal_region(main);
         CraftedExfat::seal_region(backup);
       },
       "byte range overflow"},
      {"backup in use with cluster shift 26",
       [](auto& main, auto& backup) {
         main[200] ^= 0x01;
         backup[109] = 26;
         CraftedExfat::seal_region(backup);
       },
       "invalid structure: invalid exFAT shifts"},
  };
  for (const Case& t : cases) {
    ExfatCase c;
    std::vector<std::uint8_t> main = c.region();
    std::vector<std::uint8_t> backup = c.region();
    t.change(main, backup);
    c.volume.write_region(0, main);
    c.volume.write_region(12, backup);
    auto reports = c.scan();
    EXPECT_EQ(reports ? "no error" : reports.error().message(), t.expected) << t.label;
  }
}

TEST(ExfatBootRegion, FieldsOutsideTheLayoutComparison) {
  ExfatCase c;
  std::vector<std::uint8_t> backup = c.region();
  backup[106] = 0x02;  // VolumeFlags
  backup[112] = 0x40;  // PercentInUse
  backup[130] = 0x11;  // boot code
  CraftedExfat::seal_region(backup);
  c.volume.write_region(0, c.region());
  c.volume.write_region(12, backup);
  auto reports = c.scan();
  ASSERT_TRUE(reports) << reports.error().message();
  EXPECT_EQ((*reports)[0].validation, (BootValidation{true, true, false}));
  EXPECT_EQ((*reports)[0].warnings.size(), 2u);
}

// The main region fails its checksum because its cluster shift was damaged:
// the cluster size comes from the backup in use, not from the damaged sector.
TEST(ExfatBootRegion, BackupInUseGivesTheClusterSize) {
  ExfatCase c;
  std::vector<std::uint8_t> main = c.region();
  main[109] = 5;  // damaged, checksum no longer matches
  c.volume.write_region(0, main);
  c.volume.write_region(12, c.region());
  auto reports = c.scan();
  ASSERT_TRUE(reports) << reports.error().message();
  EXPECT_EQ((*reports)[0].validation, (BootValidation{false, true, true}));
  ASSERT_EQ((*reports)[0].candidates.size(), 1u);
  EXPECT_EQ((*reports)[0].candidates[0].cluster_size, 2048u);
  EXPECT_EQ((*reports)[0].candidates[0].data_offset, c.volume.cluster_offset(10));
}

// A backup that claims another sector size than the one that located it is
// not trusted, even with a matching checksum.
TEST(ExfatBootRegion, BackupWithAnotherSectorSizeIsInvalid) {
  ExfatCase c;
  std::vector<std::uint8_t> backup = c.region();
  backup[108] = 10;
  CraftedExfat::seal_region(backup);
  c.volume.write_region(0, c.region());
  c.volume.write_region(12, backup);
  auto reports = c.scan();
  ASSERT_TRUE(reports) << reports.error().message();
  EXPECT_EQ((*reports)[0].validation, (BootValidation{true, false, false}));
  EXPECT_EQ((*reports)[0].warnings[0], kExfatBackupInvalidWarning);
}

TEST(ExfatBootRegion, RangesAgainstTheSource) {
  ExfatCase c;
  c.volume.write_boot_regions(2);
  const std::uint64_t length = c.volume.source().capacity();
  const PartitionTable table = super_floppy(length / 512);
  const std::uint64_t heap = c.volume.volume().heap_offset;
  EXPECT_EQ(scan_error(c.volume.source(), length - 1, table),
            "byte range exceeds source: offset=" + std::to_string(heap) +
                " length=" + std::to_string(64 * 2048) + " capacity=" + std::to_string(length - 1));
  EXPECT_EQ(scan_error(c.volume.source(), 24 * 512 - 1, table),
            "byte range exceeds source: offset=0 length=12288 capacity=12287");
}

TEST(ExfatBootRegion, ChecksumSkipsFlagsAndPercentInUse) {
  std::vector<std::uint8_t> sectors(11 * 512, 0);
  const std::uint32_t zero = exfat_boot_checksum(sectors);
  EXPECT_EQ(zero, 0u);
  sectors[106] = sectors[107] = sectors[112] = 0xFF;
  EXPECT_EQ(exfat_boot_checksum(sectors), 0u);
  sectors[0] = 1;
  // The first byte is rotated right once per following byte: 5631 of them,
  // less the three skipped, is 5628 = 28 mod 32 places right, 4 places left.
  EXPECT_EQ(exfat_boot_checksum(sectors), 1u << 4);
}

}  // namespace
}  // namespace kestrel::testing
