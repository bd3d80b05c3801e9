#!/usr/bin/env bash
# Runs a libFuzzer campaign on one harness, then minimises what it found.
#
#   fuzz/run-campaign.sh HARNESS SECONDS [extra libFuzzer flags...]
#
# HARNESS is one of: partition_table fat12_16 fat32 exfat ntfs checkpoint command_line carving.
# Builds the "fuzz" preset (Clang 19) when needed. The campaign starts from the
# committed seeds (fuzz/corpus/HARNESS/) and grows a working corpus under
# build/fuzz/campaigns/HARNESS/corpus/, which is kept between runs; the seeds
# are never changed. Every crash, leak or timeout is written to
# build/fuzz/campaigns/HARNESS/findings/ and then minimised next to it
# (<finding>.min). The last lines of libFuzzer's report (executions, cov:,
# corpus size) are kept in build/fuzz/campaigns/HARNESS/campaign.log.
# Add a minimised finding to fuzz/corpus/HARNESS/ once its fault is mended.
set -euo pipefail

if [[ $# -lt 2 ]]; then
  echo "usage: $0 HARNESS SECONDS [libFuzzer flags...]" >&2
  exit 64
fi
harness=$1
seconds=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
seeds=$root/fuzz/corpus/$harness
if [[ ! -d $seeds ]]; then
  echo "no seed corpus for harness '$harness' ($seeds)" >&2
  exit 64
fi

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${harness}_fuzz"
binary=$root/build/fuzz/fuzz/${harness}_fuzz

work=$root/build/fuzz/campaigns/$harness
mkdir -p "$work/corpus" "$work/findings"
log=$work/campaign.log

# -fork keeps the campaign going after a finding, so one run can report
# several; each finding is written under findings/.
status=0
"$binary" "$work/corpus" "$seeds" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
  -artifact_prefix="$work/findings/" "$@" 2>&1 | tee "$log" | grep -E '^#|ERROR|SUMMARY|INFO: (exiting|fuzzed)' || status=$?

shopt -s nullglob
for finding in "$work"/findings/crash-* "$work"/findings/leak-* "$work"/findings/timeout-* "$work"/findings/oom-*; do
  [[ $finding == *.min ]] && continue
  [[ -e $finding.min ]] && continue
  "$binary" -minimize_crash=1 -max_total_time=60 -exact_artifact_path="$finding.min" "$finding" \
    >"$finding.minimise.log" 2>&1 || true
  echo "finding: $finding (minimised: $finding.min)"
done
grep -E '^#[0-9]+' "$log" | tail -1 || true
exit 0
