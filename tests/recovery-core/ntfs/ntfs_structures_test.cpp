// The NTFS structures as the scan reads them from hostile bytes: a real
// boot sector and MFT record (from the ntfs-3g fixture) and damaged copies of
// them, run lists, and times past any calendar.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recovery-core/ntfs/ntfs_boot_sector.hpp"
#include "recovery-core/ntfs/ntfs_record.hpp"
#include "recovery-core/ntfs/ntfs_runs.hpp"
#include "recovery-core/ntfs/ntfs_times.hpp"
#include "tests/support/fixtures.hpp"

namespace kestrel::testing {
namespace {

// ntfs-basic: 4 KiB clusters, $MFT at cluster 4, 1 KiB records; record 78 is
// the deleted readme.txt, its 400 bytes resident.
constexpr std::size_t kRecord78 = 16384 + 78 * 1024;

std::vector<std::uint8_t> basic_image() { return load_fixture("ntfs/ntfs-basic.img"); }

TEST(NtfsBootSector, RealSectorAndImpossibleFields) {
  const std::vector<std::uint8_t> image = basic_image();
  const std::vector<std::uint8_t> sector(image.begin(), image.begin() + 512);
  const auto boot = parse_ntfs_boot_sector(sector);
  ASSERT_TRUE(boot) << boot.error().message();
  EXPECT_EQ(boot->cluster_size, 4096u);
  EXPECT_EQ(boot->record_size, 1024u);
  EXPECT_EQ(boot->mft_cluster, 4u);

  struct Case {
    const char* label;
    std::size_t offset;
    std::uint8_t value;
    bool accepted;
  };
  for (const Case& c :
       {Case{"sector size 0 (high byte of 512 cleared)", 12, 0x00, false},
        Case{"no sectors per cluster", 13, 0x00, false},
        Case{"3 sectors per cluster", 13, 0x03, false},
        Case{"2^3 sectors in the power form: the same 4 KiB", 13, 0xFD, true},
        Case{"2^13 sectors: 4 MiB clusters", 13, 0xF3, false},
        Case{"record size 0", 64, 0x00, false}, Case{"records of 2^16 bytes", 64, 0xF0, true},
        Case{"records of 2^17 bytes", 64, 0xEF, false},
        Case{"MFT past the volume", 55, 0x01, false}}) {
    SCOPED_TRACE(c.label);
    std::vector<std::uint8_t> damaged = sector;
    damaged[c.offset] = c.value;
    EXPECT_EQ(parse_ntfs_boot_sector(damaged).has_value(), c.accepted);
  }
}

TEST(NtfsRecord, FixupsAndBoundsDecideWhatIsTrusted) {
  const std::vector<std::uint8_t> image = basic_image();
  const std::vector<std::uint8_t> bytes(image.begin() + kRecord78,
                                        image.begin() + kRecord78 + 1024);
  const auto record = parse_ntfs_record(bytes);
  ASSERT_TRUE(record);
  EXPECT_FALSE(record->in_use);
  const NtfsAttribute* data = record->first(NtfsAttributeType::Data);
  ASSERT_NE(data, nullptr);
  EXPECT_TRUE(data->resident);
  EXPECT_EQ(data->value.size(), 400u);

  auto damaged = [&](std::size_t offset, std::uint8_t value) {
    std::vector<std::uint8_t> copy = bytes;
    copy[offset] = value;
    return parse_ntfs_record(std::move(copy));
  };
  // The last two bytes of each 512 must hold the update sequence number.
  EXPECT_EQ(damaged(510, static_cast<std::uint8_t>(bytes[510] ^ 1)).error(),
            NtfsRecordFault::Damaged);
  EXPECT_EQ(damaged(1022, static_cast<std::uint8_t>(bytes[1022] ^ 1)).error(),
            NtfsRecordFault::Damaged);
  EXPECT_EQ(damaged(0, 'X').error(), NtfsRecordFault::Unused);
  // Used size past the record; first attribute past the used size.
  EXPECT_EQ(damaged(26, 0x10).error(), NtfsRecordFault::Damaged);
  EXPECT_EQ(damaged(21, 0x04).error(), NtfsRecordFault::Damaged);
  // A first attribute whose length runs past the used bytes.
  const std::size_t first = bytes[20] | (bytes[21] << 8);
  EXPECT_EQ(damaged(first + 5, 0x40).error(), NtfsRecordFault::Damaged);
}

TEST(NtfsRuns, DecodedWithinTheVolume) {
  struct Case {
    const char* label;
    std::vector<std::uint8_t> bytes;
    std::optional<std::vector<NtfsRun>> runs;
  };
  const std::vector<Case> cases = {
      {"one run", {0x21, 0x18, 0x34, 0x12, 0x00}, std::vector<NtfsRun>{{0x1234, 0x18, false}}},
      {"hole between runs",
       {0x11, 0x02, 0x10, 0x01, 0x0E, 0x11, 0x02, 0x04, 0x00},
       std::vector<NtfsRun>{{0x10, 2, false}, {0, 14, true}, {0x14, 2, false}}},
      {"negative step",
       {0x11, 0x01, 0x40, 0x11, 0x01, 0xF0, 0x00},
       std::vector<NtfsRun>{{0x40, 1, false}, {0x30, 1, false}}},
      {"no end marker: ends with the bytes",
       {0x11, 0x01, 0x40},
       std::vector<NtfsRun>{{0x40, 1, false}}},
      {"field past the bytes", {0x21, 0x18, 0x34}, std::nullopt},
      {"zero length", {0x11, 0x00, 0x40, 0x00}, std::nullopt},
      {"length field of nine bytes", {0x19, 0x01}, std::nullopt},
      {"run past the volume", {0x21, 0x10, 0xF8, 0xFF, 0x00}, std::nullopt},
      {"step before cluster 0", {0x11, 0x01, 0x10, 0x11, 0x01, 0xE0, 0x00}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(decode_ntfs_runs(c.bytes, 0x10000, 16), c.runs);
  }
  // More entries than allowed.
  EXPECT_EQ(decode_ntfs_runs(std::vector<std::uint8_t>{0x01, 0x01, 0x01, 0x01, 0x00}, 100, 1),
            std::nullopt);
}

TEST(NtfsTimes, UtcToTheDigitsThatAreNotZero) {
  // 2024-05-03T14:22:10Z is 1714746130 s after 1970; NTFS counts 100 ns from 1601.
  const std::uint64_t may3 = (1714746130ULL + 11644473600ULL) * 10000000ULL;
  EXPECT_EQ(ntfs_time_text(may3), "2024-05-03T14:22:10Z");
  EXPECT_EQ(ntfs_time_text(may3 + 1234500), "2024-05-03T14:22:10.12345Z");
  EXPECT_EQ(ntfs_time_text(may3 + 1), "2024-05-03T14:22:10.0000001Z");
  EXPECT_EQ(ntfs_time_text(1), "1601-01-01T00:00:00.0000001Z");
  EXPECT_EQ(ntfs_time_text(0), std::nullopt);
  // 9999-12-31T23:59:59Z is the last second written; the year 10000 and
  // beyond (up to 2^64 ticks: year 60056) are not.
  const std::uint64_t last = (253402300799ULL + 11644473600ULL) * 10000000ULL;
  EXPECT_EQ(ntfs_time_text(last), "9999-12-31T23:59:59Z");
  EXPECT_EQ(ntfs_time_text(last + 10000000ULL), std::nullopt);
  EXPECT_EQ(ntfs_time_text(UINT64_MAX), std::nullopt);
}

}  // namespace
}  // namespace kestrel::testing
