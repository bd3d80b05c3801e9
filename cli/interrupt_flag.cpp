#include "cli/interrupt_flag.hpp"

namespace kestrel {

namespace {

// Constant-initialised, so a handler may reach it at any moment.
constinit std::atomic<bool> flag{false};

}  // namespace

std::atomic<bool>& interrupt_flag() { return flag; }

}  // namespace kestrel
