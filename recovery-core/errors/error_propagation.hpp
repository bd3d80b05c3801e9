#pragma once

#include <expected>
#include <utility>

// Propagate-or-continue for std::expected: a failed step returns its error from the enclosing
// function, which must itself return a std::expected whose error type the step's error converts
// to (a SourceError becomes a RecoveryError, for instance).
//
//   KESTREL_TRY(output.write(piece));                 // the value, if any, is not needed
//   KESTREL_TRY_ASSIGN(runs, chain_runs(candidate));  // `runs` is the expected, known to hold
//   for (const Run& run : *runs) ...
//
// The expression is an argument list of its own, so template arguments may carry commas.

#define KESTREL_TRY(...)                                                \
  do {                                                                  \
    if (auto kestrel_try_result = (__VA_ARGS__); !kestrel_try_result) { \
      return std::unexpected(std::move(kestrel_try_result).error());    \
    }                                                                   \
  } while (false)

#define KESTREL_TRY_ASSIGN(name, ...) \
  auto name = (__VA_ARGS__);          \
  if (!name) return std::unexpected(std::move(name).error())
