// Started by the InterruptSignal test in a console of its own (Wine gives a
// process no console events otherwise): presses Ctrl+C on that console and
// checks what InterruptSignal makes of it, once alone and once during an
// imaging run. Exit code 0 when every check held; otherwise each failed check
// is named on standard error and the exit code is 1.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>

#include "cli/interrupt_signal.hpp"
#include "recovery-core/image/checkpoint_file.hpp"
#include "recovery-core/image/chunk_read_ahead.hpp"
#include "recovery-core/image/imaging_engine.hpp"
#include "tests/support/simulated-platform/simulated_card.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

int failures = 0;

void check(bool held, const char* what) {
  if (held) return;
  ++failures;
  std::fprintf(stderr, "failed: %s\n", what);
}

// Console events arrive on a thread of their own: wait (bounded) for the effect.
bool eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    ::Sleep(10);
  }
  return condition();
}

bool press_ctrl_c() { return ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != FALSE; }

// Stands for the handling in place before a run.
std::atomic<int> seen_by_previous_handler{0};
BOOL WINAPI previous_handler(DWORD control_type) {
  if (control_type != CTRL_C_EVENT) return FALSE;
  seen_by_previous_handler.fetch_add(1);
  return TRUE;
}

void ctrl_c_only_raises_the_flag_while_installed() {
  {
    kestrel::InterruptSignal interrupt;
    check(interrupt.installed(), "the console handler is installed");
    check(!interrupt.raised(), "the flag starts lowered");
    check(press_ctrl_c(), "Ctrl+C can be sent to the console");
    check(eventually([&] { return interrupt.raised(); }), "Ctrl+C raises the flag");
    ::Sleep(50);
    check(seen_by_previous_handler.load() == 0, "the older handler does not see Ctrl+C");
  }
  check(press_ctrl_c(), "Ctrl+C can be sent again");
  check(eventually([] { return seen_by_previous_handler.load() == 1; }),
        "the older handler is back once the object is gone");
  kestrel::InterruptSignal next;
  check(!next.raised(), "a new object starts lowered");
}

void ctrl_c_during_imaging_stops_between_chunks() {
  constexpr std::uint64_t kMiB = 1048576;
  const auto contents = kestrel::testing::device_pattern(10 * kMiB);
  kestrel::testing::TempDir dir;
  const auto image = dir / "card.img";
  const auto checkpoint = dir / "card.img.partial.json";

  kestrel::InterruptSignal interrupt;
  kestrel::ImagingEnvironment environment;
  environment.interrupted = [&] { return interrupt.raised(); };
  int six_chunk_lines = 0;
  environment.progress = [&](std::string_view line) {
    if (line == "PROGRESS=6291456/10485760" && ++six_chunk_lines == 2) {
      check(press_ctrl_c(), "Ctrl+C can be sent during the run");
      check(eventually([&] { return interrupt.raised(); }),
            "Ctrl+C during the run raises the flag");
    }
  };
  kestrel::testing::SimulatedCard device(contents);
  auto result = kestrel::create_image(device, image, {}, std::nullopt, checkpoint, environment);
  check(!result && result.error().message() == "imaging interrupted",
        "the run ends as interrupted");
  check(device.read_count() >= 7 && device.read_count() <= 7 + kestrel::ChunkReadAhead::kSlots,
        "the chunk under way is finished, at most a few more are read ahead and dropped");
  check(std::filesystem::file_size(image) == 7 * kMiB, "the image holds seven chunks");
  auto loaded = kestrel::load_checkpoint(checkpoint, true);
  check(loaded && *loaded && (*loaded)->bytes_written == 7 * kMiB,
        "the checkpoint describes seven chunks");
}

}  // namespace

int main() {
  // A process started in a new process group ignores Ctrl+C until told otherwise.
  ::SetConsoleCtrlHandler(nullptr, FALSE);
  ::SetConsoleCtrlHandler(previous_handler, TRUE);
  ctrl_c_only_raises_the_flag_while_installed();
  ctrl_c_during_imaging_stops_between_chunks();
  return failures == 0 ? 0 : 1;
}
