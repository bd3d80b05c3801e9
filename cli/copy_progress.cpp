#include "cli/copy_progress.hpp"

#include "recovery-core/progress/progress_line.hpp"

namespace kestrel {

void CopyProgress::start() { report(Clock::now()); }

void CopyProgress::wrote(std::uint64_t bytes) {
  done_ += bytes;
  const auto now = Clock::now();
  if (now - last_ >= kInterval) report(now);
}

void CopyProgress::finish() { report(Clock::now()); }

void CopyProgress::report(Clock::time_point now) {
  last_ = now;
  if (sink_) sink_(progress_line(done_, total_));
}

}  // namespace kestrel
