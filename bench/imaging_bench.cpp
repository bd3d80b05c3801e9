// Images a file-backed simulated card (read through the guarded raw reader, as
// the image command reads a card) with the real imaging engine, and splits
// the time of a 1 MiB chunk into its steps: the device read (on the reading
// thread), the SHA-256 (on the hashing thread; timed alone over the same
// bytes), and on the run's thread the image write (with the start of its
// writeback), the checkpoint write, and the flushes of image and checkpoint.
// The three threads overlap, so a chunk costs about the slowest of them.
// Two runs: the engine as shipped (flushed every 256 MiB or 5 s), and the
// same engine made durable after every chunk, as it used to flush its
// checkpoint.
//
//   kestrel_imaging_bench <card file> <output directory>
//
// Each run writes <output directory>/bench.img and its checkpoint, and removes
// both afterwards. Output: one "RESULT <name> <bytes> <seconds>" line per run
// for scripts, then a readable summary.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "os/file_handle.hpp"
#include "os/file_system.hpp"
#include "os/sha256.hpp"
#include "recovery-core/image/imaging_engine.hpp"
#include "tests/support/forwarding_image_file.hpp"
#include "tests/support/simulated-platform/simulated_card.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using kestrel::RecoveryError;
using kestrel::SourceError;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds spent in each step over a run, and how often.
struct Split {
  double read = 0, write = 0, image_flush = 0, checkpoint_write = 0, checkpoint_flush = 0;
  std::size_t chunks = 0, flushes = 0;
};

template <typename F>
auto timed(double& total, F&& step) {
  const auto start = Clock::now();
  auto outcome = step();
  total += seconds_since(start);
  return outcome;
}

class TimedReader final : public kestrel::DeviceReader {
 public:
  TimedReader(kestrel::DeviceReader& real, Split& split) : real_(real), split_(split) {}
  const kestrel::DeviceInfo& expected_identity() const override {
    return real_.expected_identity();
  }
  std::expected<void, SourceError> read_at(std::uint64_t offset,
                                           std::span<std::uint8_t> buffer) override {
    return timed(split_.read, [&] { return real_.read_at(offset, buffer); });
  }

 private:
  kestrel::DeviceReader& real_;
  Split& split_;  // touched by the reading thread only, read after the run
};

class TimedImage final : public kestrel::testing::ForwardingImageFile {
 public:
  TimedImage(std::unique_ptr<kestrel::ImageFile> real, Split& split)
      : ForwardingImageFile(std::move(real)), split_(split) {}
  std::expected<void, SourceError> write_all(std::span<const std::uint8_t> buffer) override {
    ++split_.chunks;
    return timed(split_.write, [&] { return real().write_all(buffer); });
  }
  std::expected<void, SourceError> flush() override {
    ++split_.flushes;
    return timed(split_.image_flush, [&] { return real().flush(); });
  }

 private:
  Split& split_;
};

class TimedCheckpoint final : public kestrel::CheckpointOutput {
 public:
  TimedCheckpoint(std::unique_ptr<kestrel::CheckpointOutput> real, Split& split)
      : real_(std::move(real)), split_(split) {}
  std::expected<void, SourceError> replace(std::span<const std::uint8_t> text) override {
    return timed(split_.checkpoint_write, [&] { return real_->replace(text); });
  }
  std::expected<void, SourceError> flush() override {
    return timed(split_.checkpoint_flush, [&] { return real_->flush(); });
  }
  std::expected<void, SourceError> close() override { return real_->close(); }

 private:
  std::unique_ptr<kestrel::CheckpointOutput> real_;
  Split& split_;
};

struct RunFigures {
  std::uint64_t bytes = 0;
  double seconds = 0;
  Split split;
};

kestrel::ImagingEnvironment timed_environment(Split& split) {
  kestrel::ImagingEnvironment environment;
  environment.open_image = [&split](const std::filesystem::path& path)
      -> std::expected<std::unique_ptr<kestrel::ImageFile>, SourceError> {
    auto real = kestrel::open_image_file(path);
    if (!real) return std::unexpected(real.error());
    return std::make_unique<TimedImage>(std::move(*real), split);
  };
  environment.open_checkpoint = [&split](const std::filesystem::path& path)
      -> std::expected<std::unique_ptr<kestrel::CheckpointOutput>, RecoveryError> {
    auto real = kestrel::open_checkpoint_output(path);
    if (!real) return std::unexpected(real.error());
    return std::make_unique<TimedCheckpoint>(std::move(*real), split);
  };
  return environment;
}

std::optional<RunFigures> image_once(const std::filesystem::path& card,
                                     const std::filesystem::path& directory,
                                     bool durable_every_chunk) {
  auto device = kestrel::testing::SimulatedCard::over_file(card);
  if (!device) {
    std::fprintf(stderr, "cannot read card file %s: %s\n", kestrel::path_display(card).c_str(),
                 device.error().io_failure().message().c_str());
    return std::nullopt;
  }
  const auto image = directory / "bench.img";
  const auto checkpoint = directory / "bench.img.partial.json";
  std::filesystem::remove(image);
  std::filesystem::remove(checkpoint);

  RunFigures figures;
  TimedReader reader(*device, figures.split);
  kestrel::ImagingEnvironment environment = timed_environment(figures.split);
  if (durable_every_chunk) environment.durable_every.bytes = 1;
  const auto start = Clock::now();
  auto result = kestrel::create_image(reader, image, kestrel::ImagingOptions{}, std::nullopt,
                                      checkpoint, environment);
  figures.seconds = seconds_since(start);
  if (!result) {
    std::fprintf(stderr, "imaging failed: %s\n", result.error().message().c_str());
    return std::nullopt;
  }
  figures.bytes = result->bytes_written;
  std::filesystem::remove(image);
  std::filesystem::remove(checkpoint);
  return figures;
}

// The SHA-256 of the card in 1 MiB pieces, alone: seconds per piece.
std::optional<double> hash_alone(const std::filesystem::path& card) {
  auto file = kestrel::FileHandle::open_for_reading(card);
  auto hash = kestrel::Sha256::create();
  if (!file || !hash) return std::nullopt;
  std::vector<std::uint8_t> chunk(1024 * 1024);
  double seconds = 0;
  std::size_t pieces = 0;
  for (std::uint64_t offset = 0;; offset += chunk.size(), ++pieces) {
    auto got = file->read_at(offset, chunk);
    if (!got) return std::nullopt;
    if (*got == 0) break;
    const auto start = Clock::now();
    if (!hash->update(std::span(chunk).first(*got))) return std::nullopt;
    seconds += seconds_since(start);
  }
  return pieces == 0 ? 0.0 : seconds / static_cast<double>(pieces);
}

void report(const char* name, const RunFigures& f, double hash_seconds) {
  const Split& s = f.split;
  const double n = s.chunks == 0 ? 1.0 : static_cast<double>(s.chunks);
  std::printf("RESULT %s %llu %.6f\n", name, static_cast<unsigned long long>(f.bytes), f.seconds);
  std::printf("  %-26s %8.1f MiB/s  (%.2f s, %zu chunks, %zu flushes of image and checkpoint)\n",
              name, static_cast<double>(f.bytes) / 1048576.0 / f.seconds, f.seconds, s.chunks,
              s.flushes);
  std::printf(
      "    per chunk, ms: wall %.3f | reading thread: read %.3f | hashing thread: SHA-256 %.3f "
      "(alone) | run's thread: write %.3f, checkpoint write %.3f, image flush %.3f, checkpoint "
      "flush %.3f\n",
      f.seconds * 1000 / n, s.read * 1000 / n, hash_seconds * 1000, s.write * 1000 / n,
      s.checkpoint_write * 1000 / n, s.image_flush * 1000 / n, s.checkpoint_flush * 1000 / n);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <card file> <output directory>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path card = argv[1];
  const std::filesystem::path directory = argv[2];
  auto shipped = image_once(card, directory, false);
  if (!shipped) return 1;
  auto every_chunk = image_once(card, directory, true);
  if (!every_chunk) return 1;
  auto hash = hash_alone(card);
  if (!hash) return 1;
  report("engine", *shipped, *hash);
  report("engine-durable-every-chunk", *every_chunk, *hash);
  return 0;
}
