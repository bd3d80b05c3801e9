#pragma once

#include <chrono>
#include <cstdint>

namespace kestrel {

// How often an imaging run makes its work durable (the image up to the
// position its checkpoint claims, then the checkpoint): once `bytes` more of
// the image are written or `time` has passed since the last time, whichever
// comes first, and always at the end.
struct DurabilityInterval {
  std::uint64_t bytes = 256ull << 20;
  std::chrono::steady_clock::duration time = std::chrono::seconds(5);
};

// When the next flush is due, from where and when the last one was made.
class DurabilitySchedule {
 public:
  using Clock = std::chrono::steady_clock;

  explicit DurabilitySchedule(DurabilityInterval interval) : interval_(interval) {}

  bool due(std::uint64_t position, Clock::time_point now) const;
  void flushed(std::uint64_t position, Clock::time_point now);

 private:
  DurabilityInterval interval_;
  std::uint64_t position_ = 0;
  Clock::time_point time_{};
};

}  // namespace kestrel
