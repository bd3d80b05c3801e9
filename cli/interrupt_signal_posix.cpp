#include <signal.h>

#include "cli/interrupt_flag.hpp"
#include "cli/interrupt_signal.hpp"

namespace kestrel {

namespace {

// The handling in place before the object was made, restored after it.
struct sigaction previous_interrupt{};
struct sigaction previous_terminate{};

extern "C" void raise_interrupt_flag(int /*signal_number*/) {
  interrupt_flag().store(true, std::memory_order_relaxed);
}

}  // namespace

InterruptSignal::InterruptSignal() {
  interrupt_flag().store(false, std::memory_order_relaxed);
  struct sigaction action{};
  action.sa_handler = raise_interrupt_flag;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls carry on; the run notices the flag between chunks.
  action.sa_flags = SA_RESTART;
  if (::sigaction(SIGINT, &action, &previous_interrupt) != 0) return;
  if (::sigaction(SIGTERM, &action, &previous_terminate) != 0) {
    ::sigaction(SIGINT, &previous_interrupt, nullptr);
    return;
  }
  installed_ = true;
}

InterruptSignal::~InterruptSignal() {
  if (!installed_) return;
  ::sigaction(SIGTERM, &previous_terminate, nullptr);
  ::sigaction(SIGINT, &previous_interrupt, nullptr);
}

}  // namespace kestrel
