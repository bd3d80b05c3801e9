#!/usr/bin/env bash
# Regenerates recovery-core/text/unicode_upper_case_table.cpp, the full Unicode
# upper-case mapping used by both the Linux and the Windows build, from the
# build machine's ICU (libicu-dev). Run it when the Linux test
# "UpperCaseTable.MatchesIcuForEveryCodePoint" reports a newer ICU.
set -euo pipefail
cd "$(dirname "$0")/.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck disable=SC2046 # pkg-config prints several flags on purpose
c++ -std=c++17 -O2 -Wall -Wextra -Werror -o "$work/generate" \
  scripts/unicode/generate_upper_case_table.cpp $(pkg-config --cflags --libs icu-uc)
"$work/generate" > "$work/table.cpp"
mv "$work/table.cpp" recovery-core/text/unicode_upper_case_table.cpp
echo "wrote recovery-core/text/unicode_upper_case_table.cpp"
