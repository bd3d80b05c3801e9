// Images a file-backed simulated card (read through the guarded raw reader, as
// the image command reads a card) with the real imaging engine and reports
// the throughput and the time spent saving checkpoints; then the same with
// checkpoints written but not flushed to the device, and with no checkpoint
// files at all, to show what the per-chunk save and its flush cost.
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
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "os/file_handle.hpp"
#include "os/file_system.hpp"
#include "os/sha256.hpp"
#include "recovery-core/image/checkpoint_file.hpp"
#include "recovery-core/image/imaging_engine.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "tests/support/simulated-platform/simulated_card.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using kestrel::RecoveryError;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A checkpoint written the same way as save_checkpoint, except for the flush.
std::expected<void, RecoveryError> save_without_flush(const std::filesystem::path& path,
                                                      const kestrel::ImageCheckpoint& checkpoint) {
  auto text = kestrel::render_json(kestrel::to_json(checkpoint));
  if (!text) return std::unexpected(text.error());
  auto file = kestrel::FileHandle::create_or_truncate(path);
  if (!file) return std::unexpected(RecoveryError::io(file.error()));
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(text->data()), text->size());
  if (auto written = file->write_all(bytes); !written)
    return std::unexpected(RecoveryError::io(written.error()));
  if (auto closed = file->close(); !closed)
    return std::unexpected(RecoveryError::io(closed.error()));
  return {};
}

struct RunFigures {
  std::uint64_t bytes = 0;
  double seconds = 0;
  std::size_t saves = 0;
  double save_seconds = 0;
};

enum class Checkpoints { Flushed, Unflushed, Skipped };

std::optional<RunFigures> image_once(const std::filesystem::path& card,
                                     const std::filesystem::path& directory,
                                     Checkpoints checkpoints) {
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
  kestrel::ImagingEnvironment environment;
  std::string last_line;
  environment.progress = [&](std::string_view line) { last_line = line; };
  environment.save_checkpoint = [&](const std::filesystem::path& path,
                                    const kestrel::ImageCheckpoint& c) {
    const auto start = Clock::now();
    std::expected<void, RecoveryError> saved;
    if (checkpoints == Checkpoints::Flushed) saved = kestrel::save_checkpoint(path, c);
    if (checkpoints == Checkpoints::Unflushed) saved = save_without_flush(path, c);
    figures.save_seconds += seconds_since(start);
    ++figures.saves;
    return saved;
  };

  const auto start = Clock::now();
  auto result = kestrel::create_image(*device, image, kestrel::ImagingOptions{}, std::nullopt,
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

void report(const char* name, const RunFigures& f) {
  std::printf("RESULT %s %llu %.6f\n", name, static_cast<unsigned long long>(f.bytes), f.seconds);
  std::printf(
      "  %-28s %8.1f MiB/s  (%.2f s; %zu checkpoint saves, %.3f s in saves, %.3f ms each)\n", name,
      static_cast<double>(f.bytes) / 1048576.0 / f.seconds, f.seconds, f.saves, f.save_seconds,
      f.saves == 0 ? 0.0 : f.save_seconds * 1000.0 / static_cast<double>(f.saves));
}

// Each step of a chunk on its own, over the whole card in 1 MiB chunks: a
// read through the simulated device (its identity re-checked on every read,
// as the engine reads), the same bytes read from the card file directly, a
// write of each chunk to a new file (flushed once at the end), and the SHA-256.
// Their difference from the engine's run is the engine's own bookkeeping.
bool steps_in_isolation(const std::filesystem::path& card, const std::filesystem::path& directory) {
  auto device = kestrel::testing::SimulatedCard::over_file(card);
  auto file = kestrel::FileHandle::open_for_reading(card);
  auto output = kestrel::FileHandle::create_or_truncate(directory / "steps.img");
  auto hash = kestrel::Sha256::create();
  if (!device || !file || !output || !hash) return false;
  const std::uint64_t length = device->expected_identity().capacity_bytes;
  std::vector<std::uint8_t> chunk(1024 * 1024);
  double device_read = 0, file_read = 0, write = 0, digest = 0;
  std::uint64_t chunks = 0;
  for (std::uint64_t offset = 0; offset < length; offset += chunk.size(), ++chunks) {
    const auto piece = std::span(chunk).first(
        static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), length - offset)));
    auto start = Clock::now();
    if (!device->read_at(offset, piece)) return false;
    device_read += seconds_since(start);
    start = Clock::now();
    if (!file->read_at(offset, piece)) return false;
    file_read += seconds_since(start);
    start = Clock::now();
    if (!output->write_all(piece)) return false;
    write += seconds_since(start);
    start = Clock::now();
    if (!hash->update(piece)) return false;
    digest += seconds_since(start);
  }
  auto start = Clock::now();
  if (!output->flush()) return false;
  write += seconds_since(start);
  std::filesystem::remove(directory / "steps.img");
  const double n = static_cast<double>(chunks);
  std::printf(
      "  per 1 MiB chunk, each step alone: device read (with identity re-check) %.3f ms, card file "
      "read %.3f ms,"
      " write (flush at the end included) %.3f ms, SHA-256 %.3f ms\n",
      device_read * 1000 / n, file_read * 1000 / n, write * 1000 / n, digest * 1000 / n);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <card file> <output directory>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path card = argv[1];
  const std::filesystem::path directory = argv[2];
  auto flushed = image_once(card, directory, Checkpoints::Flushed);
  if (!flushed) return 1;
  auto unflushed = image_once(card, directory, Checkpoints::Unflushed);
  if (!unflushed) return 1;
  auto skipped = image_once(card, directory, Checkpoints::Skipped);
  if (!skipped) return 1;
  if (!steps_in_isolation(card, directory)) return 1;
  report("engine", *flushed);
  report("engine-checkpoint-unflushed", *unflushed);
  report("engine-no-checkpoint-file", *skipped);
  std::printf(
      "  of the engine's run, checkpoint flushes take %.1f%%, checkpoint files in all %.1f%%\n",
      100.0 * (flushed->seconds - unflushed->seconds) / flushed->seconds,
      100.0 * (flushed->seconds - skipped->seconds) / flushed->seconds);
  return 0;
}
