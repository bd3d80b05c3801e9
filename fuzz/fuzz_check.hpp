#pragma once

#include <cstdio>
#include <cstdlib>

namespace kestrel::fuzzing {

// A property every input must keep. When it does not, the harness stops the
// process, which libFuzzer (and the replay build) report as a fault.
inline void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

}  // namespace kestrel::fuzzing
