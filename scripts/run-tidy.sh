#!/usr/bin/env bash
# Runs clang-tidy 19 with the committed checks over the product's own sources (cli/, os/,
# platform/, recovery-core/) as the given build compiles them; any finding fails the run.
#   scripts/run-tidy.sh build/release
set -uo pipefail
build=${1:?usage: scripts/run-tidy.sh <build directory>}
root=$(cd "$(dirname "$0")/.." && pwd)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Every translation unit of the product in the compile database; tests, bench and fuzz harnesses
# are left out.
# libstdc++ 12 calls std::get_temporary_buffer, which it marks deprecated in C++23, from its own
# std::stable_sort: that warning is the library's, not ours.
run-clang-tidy-19 -p "$build" -quiet -j "$(nproc)" -warnings-as-errors='*' \
  -extra-arg=-Wno-deprecated-declarations \
  -header-filter="^$root/(cli|os|platform|recovery-core)/" \
  "^$root/(cli|os|platform|recovery-core)/.*\\.cpp\$" >"$log" 2>&1
status=$?
# The findings, without the runner's own chatter.
grep -v -E '^(\[ *[0-9]+/[0-9]+\]|clang-tidy-19 |[0-9]+ (warning|error)s? .*generated\.|Suppressed [0-9]+ warnings|Use -header-filter|Running clang-tidy|$)' "$log"
exit "$status"
