// Checkpoint paths that lead to something other than a regular file: a named
// pipe must not hang a run, and a device must be neither read nor written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <string>

#include "recovery-core/image/checkpoint.hpp"
#include "recovery-core/image/checkpoint_file.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

ImageCheckpoint any_checkpoint() {
  DeviceInfo card;
  card.capacity_bytes = 1048576;
  card.logical_sector_size = 512;
  card.stable_id = "usb:example:card:sn1";
  return make_checkpoint(card, 0,
                         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", {})
      .value();
}

TEST(CheckpointFile, NamedPipeIsNeitherWaitedForNorWrittenTo) {
  TempDir dir;
  const auto path = dir / "card.img.partial.json";
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);

  // No writer at the other end: loading does not wait for one.
  EXPECT_EQ(load_checkpoint(path, true).error().message(),
            "invalid image checkpoint: not a regular file");
  // No reader at the other end: saving does not wait for one either.
  EXPECT_FALSE(save_checkpoint(path, any_checkpoint()));

  // With a reader waiting, nothing reaches it.
  const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  auto saved = save_checkpoint(path, any_checkpoint());
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.error().message(), "I/O error: image checkpoint is not a regular file");
  std::array<char, 16> received{};
  EXPECT_LE(::read(reader, received.data(), received.size()), 0);
  ::close(reader);
}

TEST(CheckpointFile, LinkToADeviceIsNotRead) {
  TempDir dir;
  const auto path = dir / "card.img.partial.json";
  // A device that always has bytes to give: reading it shows as content.
  std::filesystem::create_symlink("/dev/zero", path);
  EXPECT_EQ(load_checkpoint(path, true).error().message(),
            "invalid image checkpoint: not a regular file");
}

}  // namespace
}  // namespace kestrel::testing
