#include "recovery-core/source/image_file_source.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "os/os_error.hpp"
#include "recovery-core/source/byte_range.hpp"
#include "tests/support/memory_source.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

TEST(CheckRange, Boundaries) {
  EXPECT_TRUE(check_range(1000, 900, 100));
  EXPECT_TRUE(check_range(1000, 1000, 0));
  EXPECT_EQ(check_range(1000, 900, 101).error().message(),
            "byte range exceeds source: offset=900 length=101 capacity=1000");
  EXPECT_EQ(check_range(1000, UINT64_MAX, 2).error().message(), "byte range overflow");
  EXPECT_EQ(check_range(UINT64_MAX, UINT64_MAX, 1).error().message(), "byte range overflow");
  EXPECT_TRUE(check_range(UINT64_MAX, UINT64_MAX - 1, 1));
  EXPECT_EQ(checked_mul(UINT64_MAX / 2 + 1, 2).error().message(), "byte range overflow");
  EXPECT_EQ(checked_add(UINT64_MAX - 1, 1), UINT64_MAX);
}

TEST(ReadExact, ShortCountIsShortRead) {
  MemorySource source(std::vector<std::uint8_t>(1000, 7));
  std::vector<std::uint8_t> buffer(512);
  EXPECT_TRUE(read_exact(source, 488, buffer));
  EXPECT_EQ(read_exact(source, 1000 - 100, buffer).error().message(),
            "short read: expected=512 actual=100");
  EXPECT_EQ(read_exact(source, 1000, buffer).error().message(),
            "short read: expected=512 actual=0");
  EXPECT_EQ(read_exact(source, UINT64_MAX, buffer).error().message(),
            "short read: expected=512 actual=0");
}

TEST(ImageFileSource, OpensReadsAndDescribesTheFile) {
  TempDir dir;
  write_file(dir / "card.img", std::string(1000, 'x') + "tail");
  auto source = open_image_source(dir / "card.img", 4096);
  ASSERT_TRUE(source);
  const DeviceInfo& info = source->identity();
  const std::string path = (dir / "card.img").string();
  EXPECT_EQ(info.stable_id, "file:" + path + ":1004");
  EXPECT_EQ(info.serial_number, path);
  EXPECT_EQ(info.vendor_id, "KESTREL");
  EXPECT_EQ(info.product_id, "RecoveryImage");
  EXPECT_EQ(info.bus_type, BusType::FileBacked);
  EXPECT_EQ(info.capacity_bytes, 1004u);
  EXPECT_EQ(info.logical_sector_size, 4096u);
  EXPECT_FALSE(info.physical_sector_size);
  EXPECT_EQ(info.identity_stability, IdentityStability::DeviceSerial);
  EXPECT_EQ(info.system_disk_status, SystemDiskStatus::ConfirmedNonSystem);

  std::vector<std::uint8_t> buffer(8);
  EXPECT_EQ(source->read_at(1000, buffer), 4u);
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 4), "tail");
  EXPECT_EQ(source->read_at(1004, buffer), 0u);
  EXPECT_EQ(source->read_at(1u << 30, buffer), 0u);
  EXPECT_EQ(source->read_at(0, buffer), 8u);  // usable again after reads past the end
}

TEST(ImageFileSource, RefusesEmptyAndMissingFiles) {
  TempDir dir;
  write_file(dir / "empty.img", "");
  auto empty = open_image_source(dir / "empty.img", 512);
  ASSERT_FALSE(empty);
  EXPECT_EQ(empty.error().kind(), RecoveryError::Kind::Source);
  EXPECT_EQ(empty.error().message(), "device capacity must be greater than zero");

  // Metadata that cannot be read is the Io kind, so that the front end can
  // name the image; the system's own text is kept whole.
  auto missing = open_image_source(dir / "missing.img", 512);
  ASSERT_FALSE(missing);
  const IoError* error = missing.error().io_error();
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->kind, IoErrorKind::NotFound);
  // "No such file" is code 2 both as errno (ENOENT) and as a Win32 code.
  EXPECT_EQ(error->message(), os_error_text(2));
}

TEST(ImageFileSource, DirectoryReadsFailAsGenericIo) {
  TempDir dir;
  auto source = open_image_source(dir.path(), 512);
  if (!source) GTEST_SKIP() << "this file system reports directories with length 0";
  std::vector<std::uint8_t> buffer(512);
  auto read = source->read_at(0, buffer);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error().message(),
            "source I/O error (IsADirectory): Is a directory (os error 21)");
}

}  // namespace
}  // namespace kestrel::testing
