#include <gtest/gtest.h>
#include <signal.h>

#include <csignal>
#include <optional>
#include <string>

#include "cli/interrupt_signal.hpp"
#include "os/sha256.hpp"
#include "recovery-core/image/checkpoint_file.hpp"
#include "recovery-core/image/chunk_read_ahead.hpp"
#include "recovery-core/image/imaging_engine.hpp"
#include "tests/support/simulated-platform/simulated_card.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

volatile std::sig_atomic_t seen_by_previous_handler = 0;
extern "C" void previous_handler(int signal_number) { seen_by_previous_handler = signal_number; }

// Puts a recording handler in place for the test and the default back afterwards.
class PreviousHandlers {
 public:
  PreviousHandlers() {
    struct sigaction action{};
    action.sa_handler = previous_handler;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &saved_int_);
    ::sigaction(SIGTERM, &action, &saved_term_);
  }
  ~PreviousHandlers() {
    ::sigaction(SIGINT, &saved_int_, nullptr);
    ::sigaction(SIGTERM, &saved_term_, nullptr);
  }

 private:
  struct sigaction saved_int_{};
  struct sigaction saved_term_{};
};

TEST(InterruptSignal, RequestsOnlyRaiseTheFlagWhileInstalled) {
  PreviousHandlers previous;
  for (const int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number);
    seen_by_previous_handler = 0;
    {
      InterruptSignal interrupt;
      ASSERT_TRUE(interrupt.installed());
      EXPECT_FALSE(interrupt.raised());
      ASSERT_EQ(std::raise(signal_number), 0);
      EXPECT_TRUE(interrupt.raised());
      EXPECT_EQ(seen_by_previous_handler, 0);
    }
    // The handling from before is back, and a new object starts lowered.
    ASSERT_EQ(std::raise(signal_number), 0);
    EXPECT_EQ(seen_by_previous_handler, signal_number);
    InterruptSignal next;
    EXPECT_FALSE(next.raised());
  }
}

TEST(InterruptSignal, TerminationDuringImagingStopsBetweenChunksAndTheRunResumes) {
  PreviousHandlers previous;
  seen_by_previous_handler = 0;
  constexpr std::uint64_t kMiB = 1048576;
  const std::uint64_t capacity = 10 * kMiB;
  const auto contents = device_pattern(capacity);
  TempDir dir;
  const auto image = dir / "card.img";
  const auto checkpoint = dir / "card.img.partial.json";

  {
    InterruptSignal interrupt;
    ImagingEnvironment environment;
    environment.interrupted = [&] { return interrupt.raised(); };
    // The request lands as the seventh chunk starts (the second line showing
    // six chunks done comes after the run last looked at the flag); the chunk
    // is still read, written and saved before the run stops.
    int six_chunk_lines = 0;
    SimulatedCard device(contents);
    environment.progress = [&](std::string_view line) {
      if (line == "PROGRESS=6291456/10485760" && ++six_chunk_lines == 2) std::raise(SIGTERM);
    };
    auto result = create_image(device, image, {}, std::nullopt, checkpoint, environment);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message(), "imaging interrupted");
    // Chunks read ahead of the stop are dropped, never written.
    EXPECT_GE(device.read_count(), 7u);
    EXPECT_LE(device.read_count(), 7u + ChunkReadAhead::kSlots);
  }
  EXPECT_EQ(std::filesystem::file_size(image), 7340032u);
  auto loaded = load_checkpoint(checkpoint, true);
  ASSERT_TRUE(loaded && *loaded);
  EXPECT_EQ((*loaded)->bytes_written, 7340032u);

  InterruptSignal interrupt;
  ImagingEnvironment environment;
  environment.interrupted = [&] { return interrupt.raised(); };
  SimulatedCard device(contents);
  auto resumed = create_image(device, image, {}, *loaded, checkpoint, environment);
  ASSERT_TRUE(resumed) << resumed.error().message();
  EXPECT_EQ(resumed->resumed_from, 7340032u);
  EXPECT_EQ(resumed->sha256, sha256_hex(contents).value());
  EXPECT_EQ(seen_by_previous_handler, 0);
}

}  // namespace
}  // namespace kestrel::testing
