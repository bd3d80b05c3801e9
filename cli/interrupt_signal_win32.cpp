#include <windows.h>

#include "cli/interrupt_flag.hpp"
#include "cli/interrupt_signal.hpp"

namespace kestrel {

namespace {

// How long a closing console, a log-off or a shut-down waits for the run to
// stop between chunks. Windows ends the process when the handler returns (and
// on its own after about five seconds), so the handler waits for the run to
// finish its chunk and checkpoint, a little less than that.
constexpr DWORD kCloseGraceMilliseconds = 4500;

// Signalled when the InterruptSignal goes away, i.e. when the run has stopped.
// Created once and kept for the life of the process, as the handler thread may
// still wait on it.
HANDLE run_stopped_event() {
  static HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

BOOL WINAPI raise_interrupt_flag(DWORD control_type) {
  switch (control_type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      // The process goes on; the run notices the flag between chunks.
      interrupt_flag().store(true, std::memory_order_relaxed);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends once this returns: hold on until the run stopped.
      interrupt_flag().store(true, std::memory_order_relaxed);
      if (HANDLE stopped = run_stopped_event(); stopped != nullptr) {
        ::WaitForSingleObject(stopped, kCloseGraceMilliseconds);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

InterruptSignal::InterruptSignal() {
  interrupt_flag().store(false, std::memory_order_relaxed);
  HANDLE stopped = run_stopped_event();
  if (stopped == nullptr || !::ResetEvent(stopped)) return;
  // Handlers are called newest first; returning TRUE keeps the older ones
  // (and the default, which ends the process) from running.
  installed_ = ::SetConsoleCtrlHandler(raise_interrupt_flag, TRUE) != FALSE;
}

InterruptSignal::~InterruptSignal() {
  if (!installed_) return;
  ::SetEvent(run_stopped_event());
  ::SetConsoleCtrlHandler(raise_interrupt_flag, FALSE);
}

}  // namespace kestrel
