#pragma once

#include <chrono>
#include <cstdint>
#include <utility>

#include "recovery-core/progress/progress_sink.hpp"

namespace kestrel {

// The progress lines of recover-all's copying (--progress): the bytes written
// so far over the bytes the batch plans to write, as progress_line gives
// them. One line when the copying starts, then at most one per kInterval as
// bytes are written, and one at the end.
class CopyProgress {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kInterval = std::chrono::milliseconds(250);

  CopyProgress(ProgressSink sink, std::uint64_t total) : sink_(std::move(sink)), total_(total) {}

  void start();
  void wrote(std::uint64_t bytes);
  void finish();

 private:
  void report(Clock::time_point now);

  ProgressSink sink_;
  std::uint64_t total_;
  std::uint64_t done_ = 0;
  Clock::time_point last_{};
};

}  // namespace kestrel
