#pragma once

#include <cstdint>

#include "recovery-core/progress/progress_sink.hpp"

namespace kestrel {

// The progress lines of one carved area: "PROGRESS={done}/{total}" in bytes
// of the area searched, each time another kStep bytes are done, and once when
// the whole area is done.
class CarvingProgress {
 public:
  static constexpr std::uint64_t kStep = 64u << 20;

  CarvingProgress(const ProgressSink& sink, std::uint64_t total) : sink_(sink), total_(total) {}

  // `done` bytes of the area are searched.
  void reach(std::uint64_t done);
  // The whole area is searched.
  void finish() { reach(total_); }

 private:
  void report(std::uint64_t done);

  const ProgressSink& sink_;
  std::uint64_t total_;
  std::uint64_t reported_ = 0;
  bool finished_ = false;
};

}  // namespace kestrel
