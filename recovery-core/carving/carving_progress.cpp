#include "recovery-core/carving/carving_progress.hpp"

#include <algorithm>
#include <string>

#include "recovery-core/progress/progress_line.hpp"

namespace kestrel {

void CarvingProgress::reach(std::uint64_t done) {
  done = std::min(done, total_);
  if (finished_) return;
  if (done == total_) {
    finished_ = true;
    report(done);
  } else if (done >= reported_ + kStep) {
    reported_ = done - done % kStep;
    report(reported_);
  }
}

void CarvingProgress::report(std::uint64_t done) {
  if (sink_) sink_(progress_line(done, total_));
}

}  // namespace kestrel
