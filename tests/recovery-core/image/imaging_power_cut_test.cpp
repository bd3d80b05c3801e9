// A power cut in the middle of a run: everything written to the image and to
// the checkpoint since their last flush is lost, as on a machine that goes
// dark. The files go through a layer that keeps what each flush made durable
// and can roll the real files back to it.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/os_error.hpp"
#include "os/sha256.hpp"
#include "recovery-core/image/checkpoint_parser.hpp"
#include "recovery-core/image/imaging_engine.hpp"
#include "tests/support/forwarding_image_file.hpp"
#include "tests/support/os_error_codes.hpp"
#include "tests/support/simulated-platform/simulated_card.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

constexpr std::uint64_t kMiB = 1048576;

std::string as_text(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::string sha256_of(std::string_view bytes) {
  return sha256_hex(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()))
      .value();
}

// What survives a power cut: each file as its last flush left it. After the
// cut every operation on the files fails, as nothing more reaches a disk.
class Machine {
 public:
  // Called as a file is opened: a file that is already there is durable as it is.
  void track(const std::filesystem::path& path) {
    if (durable_.contains(path)) return;
    durable_[path] = std::filesystem::exists(path) ? std::optional(read_file(path)) : std::nullopt;
  }
  void flushed(const std::filesystem::path& path) { durable_[path] = read_file(path); }
  std::expected<void, SourceError> alive() const {
    if (dark_) return std::unexpected(io_error_from_os_code(kDeviceFailureCode));
    return {};
  }
  void cut_power() { dark_ = true; }
  // The files as the next boot finds them.
  void reboot() {
    for (const auto& [path, content] : durable_) {
      if (content) {
        write_file(path, *content);
      } else {
        std::filesystem::remove(path);
      }
    }
    durable_.clear();
    dark_ = false;
  }
  std::vector<std::string> log;

 private:
  std::map<std::filesystem::path, std::optional<std::string>> durable_;
  bool dark_ = false;
};

class MachineImage final : public ForwardingImageFile {
 public:
  MachineImage(std::unique_ptr<ImageFile> real, std::filesystem::path path, Machine& machine)
      : ForwardingImageFile(std::move(real)), path_(std::move(path)), machine_(machine) {}

  std::expected<void, SourceError> write_all(std::span<const std::uint8_t> buffer) override {
    if (auto alive = machine_.alive(); !alive) return alive;
    return real().write_all(buffer);
  }
  std::expected<void, SourceError> flush() override {
    if (auto alive = machine_.alive(); !alive) return alive;
    auto flushed = real().flush();
    if (flushed) {
      machine_.flushed(path_);
      machine_.log.push_back("image " + std::to_string(std::filesystem::file_size(path_)));
    }
    return flushed;
  }

 private:
  std::filesystem::path path_;
  Machine& machine_;
};

class MachineCheckpoint final : public CheckpointOutput {
 public:
  MachineCheckpoint(std::unique_ptr<CheckpointOutput> real, std::filesystem::path path,
                    Machine& machine)
      : real_(std::move(real)), path_(std::move(path)), machine_(machine) {}

  std::expected<void, SourceError> replace(std::span<const std::uint8_t> text) override {
    if (auto alive = machine_.alive(); !alive) return alive;
    return real_->replace(text);
  }
  std::expected<void, SourceError> flush() override {
    if (auto alive = machine_.alive(); !alive) return alive;
    auto flushed = real_->flush();
    if (flushed) {
      machine_.flushed(path_);
      auto claimed = parse_checkpoint(read_file(path_));
      machine_.log.push_back("checkpoint " +
                             (claimed ? std::to_string(claimed->bytes_written) : "torn"));
    }
    return flushed;
  }
  std::expected<void, SourceError> close() override { return real_->close(); }

 private:
  std::unique_ptr<CheckpointOutput> real_;
  std::filesystem::path path_;
  Machine& machine_;
};

struct MachineRun {
  TempDir dir;
  std::filesystem::path image = dir / "card.img";
  std::filesystem::path checkpoint = dir / "card.img.partial.json";
  Machine machine;
  std::function<void(std::string_view)> on_line;

  ImagingEnvironment environment() {
    ImagingEnvironment env;
    env.progress = [this](std::string_view line) {
      if (on_line) on_line(line);
    };
    env.open_image = [this](const std::filesystem::path& path)
        -> std::expected<std::unique_ptr<ImageFile>, SourceError> {
      machine.track(path);
      auto real = open_image_file(path);
      if (!real) return std::unexpected(real.error());
      return std::make_unique<MachineImage>(std::move(*real), path, machine);
    };
    env.open_checkpoint = [this](const std::filesystem::path& path)
        -> std::expected<std::unique_ptr<CheckpointOutput>, RecoveryError> {
      machine.track(path);
      auto real = open_checkpoint_output(path);
      if (!real) return std::unexpected(real.error());
      return std::make_unique<MachineCheckpoint>(std::move(*real), path, machine);
    };
    // Flushed every 3 MiB only: the clock never decides here.
    env.durable_every = {.bytes = 3 * kMiB, .time = std::chrono::hours(1)};
    return env;
  }

  std::expected<ImagingResult, RecoveryError> image_with(DeviceReader& device,
                                                         std::optional<ImageCheckpoint> resume) {
    return create_image(device, image, {}, resume, checkpoint, environment());
  }
};

TEST(ImagingPowerCut, FlushesTheImageBeforeTheCheckpointThatClaimsIt) {
  const auto contents = device_pattern(10 * kMiB);
  SimulatedCard device(contents);
  MachineRun run;
  auto result = run.image_with(device, std::nullopt);
  ASSERT_TRUE(result) << result.error().message();
  // At the start, every 3 MiB, and at the end; each time the image first.
  EXPECT_EQ(run.machine.log, (std::vector<std::string>{
                                 "image 0", "checkpoint 0", "image 3145728", "checkpoint 3145728",
                                 "image 6291456", "checkpoint 6291456", "image 9437184",
                                 "checkpoint 9437184", "image 10485760", "checkpoint 10485760"}));
}

TEST(ImagingPowerCut, ResumesFromWhatTheLastFlushMadeDurable) {
  struct Case {
    std::uint64_t cut_at;  // the power goes when this much is written
    std::uint64_t resumed_from;
  };
  const auto contents = device_pattern(10 * kMiB);
  for (const Case& c : {Case{2 * kMiB, 0}, Case{3 * kMiB, 3 * kMiB}, Case{5 * kMiB, 3 * kMiB},
                        Case{8 * kMiB, 6 * kMiB}}) {
    SCOPED_TRACE(c.cut_at);
    MachineRun run;
    run.on_line = [&](std::string_view line) {
      if (line == "PROGRESS=" + std::to_string(c.cut_at) + "/10485760") run.machine.cut_power();
    };
    SimulatedCard device(contents);
    ASSERT_FALSE(run.image_with(device, std::nullopt));
    run.machine.reboot();

    // What the image command does next: load the checkpoint found on disk.
    EXPECT_EQ(std::filesystem::file_size(run.image), c.resumed_from);
    auto loaded = load_checkpoint(run.checkpoint, c.resumed_from > 0);
    ASSERT_TRUE(loaded) << loaded.error().message();
    ASSERT_TRUE(loaded->has_value());
    EXPECT_EQ((*loaded)->bytes_written, c.resumed_from);
    run.on_line = nullptr;
    SimulatedCard again(contents);
    auto resumed = run.image_with(again, *loaded);
    ASSERT_TRUE(resumed) << resumed.error().message();
    EXPECT_EQ(resumed->resumed_from, c.resumed_from);
    EXPECT_EQ(resumed->sha256, sha256_of(as_text(contents)));
    EXPECT_EQ(read_file(run.image), as_text(contents));
  }
}

// The checkpoint is replaced in place; a replacement that reached the disk
// only in part leaves the new text's start over the old text's end. Such a
// file may resume only as one whole record, old or new, never as a mix.
TEST(ImagingPowerCut, TornCheckpointIsNeverHalfTrusted) {
  const auto contents = device_pattern(4 * kMiB);
  SimulatedCard device(contents);
  const DeviceInfo& card = device.expected_identity();
  auto record_for = [&](std::uint64_t length, std::vector<ReadErrorRange> ranges) {
    const std::string prefix = sha256_of(as_text(contents).substr(0, length));
    return make_checkpoint(card, length, prefix, std::move(ranges)).value();
  };
  const ImageCheckpoint older = record_for(kMiB * 9 / 8, {{4096, 512, "x"}});
  const ImageCheckpoint newer = record_for(kMiB * 10 / 8, {{4096, 1024, "x"}});
  const std::string old_text = checkpoint_text(older).value();
  const std::string new_text = checkpoint_text(newer).value();
  TempDir dir;
  const auto path = dir / "card.img.partial.json";
  std::size_t refused = 0;
  for (std::size_t torn = 1; torn < new_text.size(); ++torn) {
    std::string mixed = new_text.substr(0, torn);
    if (torn < old_text.size()) mixed += old_text.substr(torn);
    write_file(path, mixed);
    auto loaded = load_checkpoint(path, true);
    if (!loaded || !validate_checkpoint(**loaded, card, (*loaded)->bytes_written)) {
      ++refused;
      continue;
    }
    EXPECT_TRUE(**loaded == older || **loaded == newer) << "torn after " << torn;
  }
  EXPECT_GT(refused, new_text.size() / 2);
}

}  // namespace
}  // namespace kestrel::testing
