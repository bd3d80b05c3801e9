// Media without a partition table whose boot code forms MBR slots, as Windows leaves them: read
// as the volume on them, while a real MBR keeps its table even when its partitions run past the
// end of a truncated image.
#include "recovery-core/scan/medium_layout.hpp"

#include <gtest/gtest.h>

#include <string>

#include "recovery-core/source/image_file_source.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

PartitionTable layout_of(const std::filesystem::path& image) {
  auto source = open_image_source(image, 512);
  EXPECT_TRUE(source.has_value());
  auto table = detect_medium_layout(*source, source->capacity(), 512);
  EXPECT_TRUE(table.has_value()) << table.error().message();
  return *table;
}

TEST(MediumLayout, WindowsBootCodeOverAVolumeIsNoPartitionTable) {
  for (const char* name : {"windows-exfat-superfloppy", "windows-fat32-superfloppy"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    const auto image =
        unpack_fixture(std::string("filesystems/") + name + ".img", dir / "card.img");
    // The boot code alone reads as an MBR with four impossible slots.
    auto source = open_image_source(image, 512);
    ASSERT_TRUE(source.has_value());
    auto as_mbr = detect_partition_table(*source, source->capacity(), 512);
    ASSERT_TRUE(as_mbr.has_value());
    EXPECT_EQ(as_mbr->scheme, PartitionScheme::Mbr);

    const PartitionTable table = layout_of(image);
    EXPECT_EQ(table.scheme, PartitionScheme::SuperFloppy);
    ASSERT_EQ(table.partitions.size(), 1u);
    EXPECT_EQ(table.partitions[0].start_lba, 0u);
    EXPECT_EQ(table.partitions[0].sector_count, source->capacity() / 512);
  }
}

TEST(MediumLayout, RealMbrStaysAnMbrWhenTruncated) {
  TempDir dir;
  const auto image = unpack_fixture("filesystems/disk-mbr-fat32-exfat.img", dir / "disk.img");
  EXPECT_EQ(layout_of(image).scheme, PartitionScheme::Mbr);
  // Cut inside the first partition: its slot now runs past the end, but sector 0 is no volume.
  std::filesystem::resize_file(image, std::filesystem::file_size(image) / 4);
  const PartitionTable cut = layout_of(image);
  EXPECT_EQ(cut.scheme, PartitionScheme::Mbr);
  EXPECT_FALSE(cut.partitions.empty());
}

}  // namespace
}  // namespace kestrel::testing
