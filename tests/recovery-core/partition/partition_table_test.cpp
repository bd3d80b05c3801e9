#include "recovery-core/partition/partition_table.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/partition/crc32.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/memory_source.hpp"

namespace kestrel::testing {
namespace {

// Type GUIDs sgdisk writes for the type codes the fixture script asks for.
constexpr const char* kEfiSystem = "c12a7328-f81f-11d2-ba4b-00a0c93ec93b";  // EF00
constexpr const char* kBasicData = "ebd0a0a2-b9e5-4433-87c0-68b6b72699c7";  // 0700
constexpr const char* kLinuxData = "0fc63daf-8483-4772-8e79-3d69d8477de4";  // 8300

PartitionEntry gpt_entry(std::uint32_t index, std::uint64_t start, std::uint64_t count,
                         const char* type, std::optional<std::string> name) {
  return PartitionEntry{index, start, count, std::nullopt, std::string(type), std::move(name)};
}

PartitionEntry mbr_entry(std::uint32_t index, std::uint64_t start, std::uint64_t count,
                         std::uint8_t type) {
  return PartitionEntry{index, start, count, type, std::nullopt, std::nullopt};
}

// The table the fixture script asked sgdisk for on the 512-byte-sector disk.
PartitionTable gpt_512_table() {
  return PartitionTable{
      PartitionScheme::Gpt,
      512,
      {
          gpt_entry(1, 64, 128, kEfiSystem, "EFI system"),
          gpt_entry(3, 192, 256, kBasicData, "Fotos Ünïcode 사진"),
          gpt_entry(5, 448, 1, kLinuxData, "\U0001F3B5 Music"),
          gpt_entry(6, 456, 568, kLinuxData, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"),
          gpt_entry(7, 1024, 1024, kBasicData, std::nullopt),
      }};
}

std::expected<PartitionTable, RecoveryError> detect(std::vector<std::uint8_t> bytes,
                                                    std::uint32_t sector_size) {
  MemorySource source(std::move(bytes), sector_size);
  return detect_partition_table(source, source.capacity(), sector_size);
}

std::string error_text(const std::expected<PartitionTable, RecoveryError>& result) {
  return result ? std::string("(no error)") : result.error().message();
}

TEST(DetectPartitionTable, ReadsTheTablesTheToolsWrote) {
  struct Case {
    const char* fixture;
    std::uint32_t sector_size;
    PartitionTable expected;
  };
  const std::vector<Case> cases = {
      {"partition/gpt-512.img", 512, gpt_512_table()},
      {"partition/gpt-4096.img", 4096,
       PartitionTable{PartitionScheme::Gpt,
                      4096,
                      {gpt_entry(1, 256, 256, kBasicData, "Card data"),
                       gpt_entry(2, 512, 507, kLinuxData, "Linux")}}},
      {"partition/mbr.img", 512,
       PartitionTable{PartitionScheme::Mbr,
                      512,
                      {mbr_entry(1, 63, 1000, 0x0C), mbr_entry(3, 1100, 900, 0x07)}}},
      // A larger sector size only changes the unit: the slots are the same.
      {"partition/mbr.img", 4096,
       PartitionTable{PartitionScheme::Mbr,
                      4096,
                      {mbr_entry(1, 63, 1000, 0x0C), mbr_entry(3, 1100, 900, 0x07)}}},
      // The extended slot is listed like any other; its logical partitions are not followed.
      {"partition/mbr-extended.img", 512,
       PartitionTable{PartitionScheme::Mbr,
                      512,
                      {mbr_entry(1, 64, 1000, 0x83), mbr_entry(2, 1064, 2000, 0x05)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + " @" + std::to_string(c.sector_size));
    auto table = detect(load_fixture(c.fixture), c.sector_size);
    ASSERT_TRUE(table) << error_text(table);
    EXPECT_EQ(*table, c.expected);
  }
}

TEST(DetectPartitionTable, GptDetectionReadsThreeTimes) {
  MemorySource source(load_fixture("partition/gpt-512.img"));
  ASSERT_TRUE(detect_partition_table(source, source.capacity(), 512));
  EXPECT_EQ(source.read_count(), 3u);
  EXPECT_EQ(source.bytes_read(), 512u + 512u + 128u * 128u);
}

TEST(DetectPartitionTable, TableJsonKeepsKeyOrderAndNulls) {
  auto table = detect(load_fixture("partition/mbr.img"), 512);
  ASSERT_TRUE(table);
  auto text = render_json(to_json(*table));
  ASSERT_TRUE(text);
  EXPECT_EQ(*text,
            "{\n"
            "  \"scheme\": \"mbr\",\n"
            "  \"logical_sector_size\": 512,\n"
            "  \"partitions\": [\n"
            "    {\n"
            "      \"index\": 1,\n"
            "      \"start_lba\": 63,\n"
            "      \"sector_count\": 1000,\n"
            "      \"type_code\": 12,\n"
            "      \"type_guid\": null,\n"
            "      \"name\": null\n"
            "    },\n"
            "    {\n"
            "      \"index\": 3,\n"
            "      \"start_lba\": 1100,\n"
            "      \"sector_count\": 900,\n"
            "      \"type_code\": 7,\n"
            "      \"type_guid\": null,\n"
            "      \"name\": null\n"
            "    }\n"
            "  ]\n"
            "}");

  const JsonValue gpt = to_json(gpt_512_table());
  EXPECT_EQ(gpt["scheme"], "gpt");
  EXPECT_EQ(gpt["partitions"][1].dump(),
            R"({"index":3,"start_lba":192,"sector_count":256,"type_code":null,)"
            R"("type_guid":"ebd0a0a2-b9e5-4433-87c0-68b6b72699c7","name":"Fotos Ünïcode 사진"})");
  EXPECT_TRUE(gpt["partitions"][4]["name"].is_null());
  EXPECT_EQ(partition_scheme_name(PartitionScheme::SuperFloppy), "super-floppy");
}

// --- damage applied to the sgdisk image ----------------------------------------------

constexpr std::size_t kHeader = 512;  // LBA 1 of the 512-byte-sector fixture
constexpr std::size_t kArray = 1024;  // its entry array at LBA 2
constexpr std::size_t kEntrySize = 128;
constexpr std::size_t kEntryCount = 128;

void put_u32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void put_u64(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get_u32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
  return value;
}

// Makes the header checksum right again, so that the check under test is the one that fires.
void reseal_header(std::vector<std::uint8_t>& bytes) {
  const std::uint32_t header_size = get_u32(bytes, kHeader + 12);
  put_u32(bytes, kHeader + 16, 0);
  put_u32(bytes, kHeader + 16,
          crc32_ieee(std::span<const std::uint8_t>(bytes).subspan(kHeader, header_size)));
}

// Recomputes the entry-array checksum over `length` bytes, then the header's.
void reseal_array(std::vector<std::uint8_t>& bytes, std::size_t length) {
  put_u32(bytes, kHeader + 88,
          crc32_ieee(std::span<const std::uint8_t>(bytes).subspan(kArray, length)));
  reseal_header(bytes);
}

TEST(DetectPartitionTable, DamagedGptFailsWithoutFallback) {
  using Damage = std::function<void(std::vector<std::uint8_t>&)>;
  struct Case {
    const char* what;
    Damage damage;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"signature", [](auto& b) { b[kHeader] = 'e'; }, "invalid structure: missing GPT signature"},
      {"header field changed after the checksum", [](auto& b) { b[kHeader + 24] ^= 1; },
       "checksum mismatch: GPT header"},
      {"stored header checksum", [](auto& b) { b[kHeader + 16] ^= 0x80; },
       "checksum mismatch: GPT header"},
      {"header size 91", [](auto& b) { put_u32(b, kHeader + 12, 91); },
       "invalid structure: invalid GPT header size"},
      {"header size beyond the sector", [](auto& b) { put_u32(b, kHeader + 12, 513); },
       "invalid structure: invalid GPT header size"},
      {"byte in an unused entry", [](auto& b) { b[kArray + kEntrySize * 1 + 3] = 0x42; },
       "checksum mismatch: GPT entry array"},
      {"stored array checksum",
       [](auto& b) {
         b[kHeader + 88] ^= 1;
         reseal_header(b);
       },
       "checksum mismatch: GPT entry array"},
      {"entry size 120",
       [](auto& b) {
         put_u32(b, kHeader + 84, 120);
         reseal_header(b);
       },
       "invalid structure: invalid GPT entry size"},
      {"entry size 130",
       [](auto& b) {
         put_u32(b, kHeader + 84, 130);
         reseal_header(b);
       },
       "invalid structure: invalid GPT entry size"},
      {"131,073 entries: one past 16 MiB",
       [](auto& b) {
         put_u32(b, kHeader + 80, 131073);
         reseal_header(b);
       },
       "unsupported: GPT entry array is too large"},
      {"131,072 entries: exactly 16 MiB passes the cap and meets the range check",
       [](auto& b) {
         put_u32(b, kHeader + 80, 131072);
         reseal_header(b);
       },
       "byte range exceeds source: offset=1024 length=16777216 capacity=2097152"},
      {"array offset overflows",
       [](auto& b) {
         put_u64(b, kHeader + 72, std::uint64_t{1} << 55);
         reseal_header(b);
       },
       "byte range overflow"},
      {"array end overflows",
       [](auto& b) {
         put_u64(b, kHeader + 72, UINT64_MAX / 512);
         reseal_header(b);
       },
       "byte range overflow"},
      {"array one byte past the end of the image",
       [](auto& b) { b.resize(kArray + kEntrySize * kEntryCount - 1); },
       "byte range exceeds source: offset=1024 length=16384 capacity=17407"},
      {"reversed range",
       [](auto& b) {
         put_u64(b, kArray + 40, 63);  // entry 1 runs 64..191; make it end before it starts
         reseal_array(b, kEntrySize * kEntryCount);
       },
       "invalid structure: GPT partition range is reversed"},
      {"sector count wraps to zero",
       [](auto& b) {
         put_u64(b, kArray + 32, 0);
         put_u64(b, kArray + 40, UINT64_MAX);
         reseal_array(b, kEntrySize * kEntryCount);
       },
       "byte range overflow"},
      {"image ends inside the header sector", [](auto& b) { b.resize(kHeader + 100); },
       "short read: expected=512 actual=100"},
      {"image ends right after the protective MBR", [](auto& b) { b.resize(kHeader); },
       "short read: expected=512 actual=0"},
  };
  const std::vector<std::uint8_t> original = load_fixture("partition/gpt-512.img");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bytes = original;
    c.damage(bytes);
    EXPECT_EQ(error_text(detect(std::move(bytes), 512)), c.error);
  }
}

TEST(DetectPartitionTable, AcceptedGptVariations) {
  using Change = std::function<void(std::vector<std::uint8_t>&)>;
  struct Case {
    const char* what;
    Change change;
    std::vector<PartitionEntry> expected;
  };
  // Re-lays the first 16 entries with a wider stride; the partitions must stay the same.
  const auto restride = [](std::uint32_t stride) {
    return [stride](std::vector<std::uint8_t>& b) {
      const std::vector<std::uint8_t> entries(b.begin() + kArray,
                                              b.begin() + kArray + kEntrySize * 16);
      std::fill(b.begin() + kArray, b.begin() + kArray + stride * 16, std::uint8_t{0});
      for (std::size_t i = 0; i < 16; ++i) {
        std::copy_n(entries.begin() + i * kEntrySize, kEntrySize, b.begin() + kArray + i * stride);
      }
      put_u32(b, kHeader + 80, 16);
      put_u32(b, kHeader + 84, stride);
      reseal_array(b, stride * 16);
    };
  };
  const std::vector<PartitionEntry> all = gpt_512_table().partitions;
  const std::vector<Case> cases = {
      {"entry size 136", restride(136), all},
      {"entry size 256", restride(256), all},
      {"no entries: the checksum of no bytes is 0",
       [](auto& b) {
         put_u32(b, kHeader + 80, 0);
         put_u32(b, kHeader + 88, 0);
         reseal_header(b);
       },
       {}},
      {"header size of a whole sector, covered by the checksum",
       [](auto& b) {
         put_u32(b, kHeader + 12, 512);
         reseal_header(b);
       },
       all},
      {"array ending exactly at the end of the image",
       [](auto& b) { b.resize(kArray + kEntrySize * kEntryCount); }, all},
      {"protective slot 2 behind a basic-data slot 1: the GPT wins and slot 1 is not listed",
       [](auto& b) {
         std::copy_n(b.begin() + 446, 16, b.begin() + 462);
         b[446 + 4] = 0x07;
         put_u32(b, 446 + 8, 2048);
         put_u32(b, 446 + 12, 100);
       },
       all},
  };
  const std::vector<std::uint8_t> original = load_fixture("partition/gpt-512.img");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bytes = original;
    c.change(bytes);
    auto table = detect(std::move(bytes), 512);
    ASSERT_TRUE(table) << error_text(table);
    EXPECT_EQ(table->scheme, PartitionScheme::Gpt);
    EXPECT_EQ(table->partitions, c.expected);
  }
}

TEST(DetectPartitionTable, SectorSizeIsNeverGuessed) {
  // A disk partitioned with 4096-byte sectors read as 512: byte 512 holds no header.
  EXPECT_EQ(error_text(detect(load_fixture("partition/gpt-4096.img"), 512)),
            "invalid structure: missing GPT signature");
  // And the 512-byte disk read as 4096: LBA 1 lands inside the entry array.
  EXPECT_EQ(error_text(detect(load_fixture("partition/gpt-512.img"), 4096)),
            "invalid structure: missing GPT signature");
}

TEST(DetectPartitionTable, LayoutsWithoutATable) {
  const auto with_signature = [](std::size_t length) {
    std::vector<std::uint8_t> bytes(length, 0);
    bytes[510] = 0x55;
    bytes[511] = 0xAA;
    return bytes;
  };
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::uint64_t sectors;
  };
  std::vector<Case> cases;
  cases.push_back(
      {"all zero bytes, partial last sector dropped", std::vector<std::uint8_t>(10000, 0), 19});
  cases.push_back({"boot signature, four empty slots", with_signature(4096), 8});
  {
    auto bytes = with_signature(4096);
    bytes[446 + 4] = 0x0C;  // a type without a sector count does not count
    bytes[462 + 4] = 0xEE;  // nor does a protective type with a zero count
    put_u32(bytes, 462 + 8, 1);
    cases.push_back({"slots with types but no sector counts", std::move(bytes), 8});
  }
  {
    auto bytes = load_fixture("partition/gpt-512.img");
    put_u32(bytes, 446 + 12, 0);
    cases.push_back({"protective slot with a zero count", std::move(bytes), 4096});
  }
  {
    auto bytes = load_fixture("partition/mbr.img");
    bytes[511] = 0xAB;
    cases.push_back({"MBR slots without the boot signature", std::move(bytes), 2048});
  }
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto table = detect(std::move(c.bytes), 512);
    ASSERT_TRUE(table) << error_text(table);
    EXPECT_EQ(*table, (PartitionTable{PartitionScheme::SuperFloppy,
                                      512,
                                      {PartitionEntry{1, 0, c.sectors, std::nullopt, std::nullopt,
                                                      std::nullopt}}}));
  }
}

TEST(DetectPartitionTable, SectorReadFailures) {
  EXPECT_EQ(error_text(detect(std::vector<std::uint8_t>(4096, 0), 256)),
            "invalid structure: logical sector size is smaller than 512");
  EXPECT_EQ(error_text(detect(std::vector<std::uint8_t>(300, 0), 512)),
            "short read: expected=512 actual=300");

  {
    // A sector size far beyond the image: the short read names the sector size,
    // but no read asks for more than the image holds.
    MemorySource source(std::vector<std::uint8_t>(1 << 20, 0));
    auto result = detect_partition_table(source, source.capacity(), 0x80000000u);
    EXPECT_EQ(error_text(result), "short read: expected=2147483648 actual=1048576");
    EXPECT_LE(source.largest_read(), std::size_t{1} << 20);
  }
  {
    // The same for the header sector behind a protective MBR of 1 MiB sectors.
    std::vector<std::uint8_t> bytes = load_fixture("partition/gpt-512.img");
    bytes.resize(3u << 20);
    MemorySource source(std::move(bytes));
    auto result = detect_partition_table(source, source.capacity(), 1u << 21);
    EXPECT_EQ(error_text(result), "short read: expected=2097152 actual=1048576");
    EXPECT_LE(source.largest_read(), std::size_t{2} << 20);
  }
  {
    MemorySource source(load_fixture("partition/gpt-512.img"));
    source.fail_range(kArray + 5000, 1, SourceError::device_disconnected());
    EXPECT_EQ(error_text(detect_partition_table(source, source.capacity(), 512)),
              "device disconnected during read");
  }
  {
    MemorySource source(std::vector<std::uint8_t>(4096, 0));
    source.fail_range(0, 1, SourceError::read_permission_denied());
    auto result = detect_partition_table(source, source.capacity(), 512);
    ASSERT_FALSE(result);
    ASSERT_NE(result.error().source_error(), nullptr);
    EXPECT_EQ(result.error().source_error()->kind(), SourceError::Kind::ReadPermissionDenied);
  }
}

TEST(GptFields, GuidTextAndNames) {
  const std::vector<std::uint8_t> guid = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11,
                                          0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};
  EXPECT_EQ(format_guid(guid), "c12a7328-f81f-11d2-ba4b-00a0c93ec93b");
  EXPECT_EQ(format_guid(std::vector<std::uint8_t>(16, 0)), "00000000-0000-0000-0000-000000000000");
  for (std::size_t length : {0u, 15u, 17u}) {
    EXPECT_EQ(format_guid(std::vector<std::uint8_t>(length, 1)).error().message(),
              "invalid structure: invalid GUID length");
  }

  const auto field = [](std::u16string units) {
    std::vector<std::uint8_t> bytes(72, 0);
    for (std::size_t i = 0; i < units.size() && i < 36; ++i) {
      bytes[2 * i] = static_cast<std::uint8_t>(units[i]);
      bytes[2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
    }
    return bytes;
  };
  struct Case {
    std::u16string units;
    std::optional<std::string> name;
  };
  const std::vector<Case> cases = {
      {u"", std::nullopt},
      {u"Data", "Data"},
      {std::u16string(u"AB") + u'\0' + u"CD", "AB"},  // stops at the first zero unit
      {u"\xD83C\xDFB5", "\U0001F3B5"},
      {u"\xD83C"
       u"A",
       "\uFFFDA"},              // high surrogate before a non-low unit
      {u"\xDFB5x", "\uFFFDx"},  // lone low surrogate
      {u"\xD83C", "\uFFFD"},    // high surrogate at the end
      {std::u16string(36, u'z'), std::string(36, 'z')},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decode_gpt_name(field(c.units)), c.name);
  }
}

TEST(Crc32, MatchesTheStandardCheckValue) {
  const std::string check = "123456789";
  EXPECT_EQ(
      crc32_ieee(std::span(reinterpret_cast<const std::uint8_t*>(check.data()), check.size())),
      0xCBF43926u);
  EXPECT_EQ(crc32_ieee({}), 0u);
}

}  // namespace
}  // namespace kestrel::testing
