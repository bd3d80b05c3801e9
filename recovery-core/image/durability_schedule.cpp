#include "recovery-core/image/durability_schedule.hpp"

namespace kestrel {

bool DurabilitySchedule::due(std::uint64_t position, Clock::time_point now) const {
  return position - position_ >= interval_.bytes || now - time_ >= interval_.time;
}

void DurabilitySchedule::flushed(std::uint64_t position, Clock::time_point now) {
  position_ = position;
  time_ = now;
}

}  // namespace kestrel
