#pragma once

#include <atomic>

namespace kestrel {

// The one flag the platform's interrupt handler raises. A handler may touch
// nothing but a lock-free atomic.
static_assert(std::atomic<bool>::is_always_lock_free);
std::atomic<bool>& interrupt_flag();

}  // namespace kestrel
