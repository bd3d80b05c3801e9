// The file layer on the running platform: how files are opened, read, written
// and shared. The same expectations hold on Linux and on Windows.
#include "os/file_handle.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/file_system.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

std::span<const std::uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string read_at(FileHandle& file, std::uint64_t offset, std::size_t length) {
  std::vector<std::uint8_t> buffer(length);
  auto count = file.read_at(offset, buffer);
  EXPECT_TRUE(count) << (count ? "" : count.error().message());
  return std::string(buffer.begin(),
                     buffer.begin() + static_cast<std::ptrdiff_t>(count.value_or(0)));
}

TEST(FileHandle, CreateNewRefusesAnExistingFileAndLeavesItAlone) {
  TempDir dir;
  write_file(dir / "kept.bin", "original");
  auto created = FileHandle::create_new(dir / "kept.bin");
  ASSERT_FALSE(created);
  EXPECT_EQ(created.error().io_kind(), IoErrorKind::AlreadyExists);
  EXPECT_EQ(read_file(dir / "kept.bin"), "original");

  auto fresh = FileHandle::create_new(dir / "fresh.bin");
  ASSERT_TRUE(fresh);
  ASSERT_TRUE(fresh->write_all(bytes_of("new content")));
  ASSERT_TRUE(fresh->flush());
  ASSERT_TRUE(fresh->close());
  EXPECT_FALSE(fresh->is_open());
  EXPECT_EQ(read_file(dir / "fresh.bin"), "new content");
}

TEST(FileHandle, OpenReadWriteKeepsContentAndCreateOrTruncateEmptiesIt) {
  TempDir dir;
  write_file(dir / "image.img", "0123456789");
  {
    auto image = FileHandle::open_read_write(dir / "image.img");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->length(), 10u);
    ASSERT_TRUE(image->seek(10));
    ASSERT_TRUE(image->write_all(bytes_of("ab")));
    EXPECT_EQ(read_at(*image, 0, 64), "0123456789ab");
  }
  EXPECT_EQ(read_file(dir / "image.img"), "0123456789ab");

  auto missing = FileHandle::open_read_write(dir / "created.img");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->length(), 0u);
  EXPECT_TRUE(read_metadata(dir / "created.img"));

  write_file(dir / "card.img.partial.json", "an older, longer checkpoint");
  {
    auto checkpoint = FileHandle::create_or_truncate(dir / "card.img.partial.json");
    ASSERT_TRUE(checkpoint);
    ASSERT_TRUE(checkpoint->write_all(bytes_of("{}")));
    ASSERT_TRUE(checkpoint->flush());
  }
  EXPECT_EQ(read_file(dir / "card.img.partial.json"), "{}");
}

TEST(FileHandle, PositionalReadsAreShortAtTheEndAndEmptyBeyondIt) {
  TempDir dir;
  write_file(dir / "data.bin", "abcdefgh");
  auto file = FileHandle::open_for_reading(dir / "data.bin");
  ASSERT_TRUE(file);
  EXPECT_EQ(read_at(*file, 2, 3), "cde");
  EXPECT_EQ(read_at(*file, 6, 10), "gh");
  EXPECT_EQ(read_at(*file, 8, 4), "");
  EXPECT_EQ(read_at(*file, std::uint64_t{1} << 40, 4), "");
  EXPECT_EQ(read_at(*file, 0, 2), "ab");  // each read positions afresh

  std::vector<std::uint8_t> buffer(1);
  auto beyond = file->read_at(std::uint64_t{1} << 63, buffer);
  ASSERT_FALSE(beyond);
  EXPECT_EQ(beyond.error().io_kind(), IoErrorKind::InvalidInput);

  ASSERT_TRUE(file->seek(3));
  std::vector<std::uint8_t> rest(16);
  EXPECT_EQ(file->read_fully(rest), 5u);
  EXPECT_EQ(file->is_regular_file(), true);
}

TEST(FileHandle, ReadingAMissingFileIsNotFound) {
  TempDir dir;
  auto file = FileHandle::open_for_reading(dir / "missing.img");
  ASSERT_FALSE(file);
  EXPECT_EQ(file.error().io_kind(), IoErrorKind::NotFound);
}

TEST(FileHandle, AnImageOpenForReadingCanBeReadWrittenAndDeletedByOthers) {
  TempDir dir;
  write_file(dir / "card.img", "original bytes");
  auto image = FileHandle::open_for_reading(dir / "card.img");
  ASSERT_TRUE(image);

  auto other_reader = FileHandle::open_for_reading(dir / "card.img");
  ASSERT_TRUE(other_reader) << other_reader.error().message();
  auto other_writer = FileHandle::open_read_write(dir / "card.img");
  ASSERT_TRUE(other_writer) << other_writer.error().message();
  ASSERT_TRUE(other_writer->write_all(bytes_of("CHANGED!")));
  ASSERT_TRUE(other_writer->close());
  EXPECT_EQ(read_at(*image, 0, 14), "CHANGED! bytes");

  ASSERT_TRUE(other_reader->close());
  auto removed = remove_file(dir / "card.img");
  ASSERT_TRUE(removed) << removed.error().message();
  // The open image still reads what it held.
  EXPECT_EQ(read_at(*image, 9, 5), "bytes");
}

TEST(FileHandle, AnImageBeingWrittenCanBeReadByOthers) {
  TempDir dir;
  auto image = FileHandle::open_read_write(dir / "card.img");
  ASSERT_TRUE(image);
  ASSERT_TRUE(image->write_all(bytes_of("first chunk")));
  auto reader = FileHandle::open_for_reading(dir / "card.img");
  ASSERT_TRUE(reader) << reader.error().message();
  EXPECT_EQ(read_at(*reader, 0, 64), "first chunk");
}

TEST(FileHandle, ExclusiveLockKeepsOutOtherLockersButNotReadersOrWriters) {
  TempDir dir;
  write_file(dir / "card.img", "data");
  auto first = FileHandle::open_read_write(dir / "card.img");
  auto second = FileHandle::open_read_write(dir / "card.img");
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(first->lock_exclusive());
  EXPECT_FALSE(second->lock_exclusive());

  // The lock guards against a second writer run, not the data itself.
  EXPECT_EQ(read_at(*second, 0, 4), "data");
  ASSERT_TRUE(second->seek(4));
  EXPECT_TRUE(second->write_all(bytes_of("+")));
  EXPECT_EQ(read_at(*first, 0, 8), "data+");

  ASSERT_TRUE(first->close());
  EXPECT_TRUE(second->lock_exclusive());
}

}  // namespace
}  // namespace kestrel::testing
