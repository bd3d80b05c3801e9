#include "cli/interrupt_signal.hpp"

#include "cli/interrupt_flag.hpp"

namespace kestrel {

bool InterruptSignal::raised() const { return interrupt_flag().load(std::memory_order_relaxed); }

}  // namespace kestrel
