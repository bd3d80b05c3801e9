#pragma once

#include "cli/output.hpp"
#include "recovery-core/progress/progress_sink.hpp"

namespace kestrel {

// A progress sink that writes each line to the run's standard error.
inline ProgressSink progress_to(Output& output) {
  return [&output](std::string_view line) { output.print_progress_line(line); };
}

}  // namespace kestrel
