#!/usr/bin/env bash
# Times `scan`, `scan --all-directories` and `recover-all` on two large images (FAT32 and exFAT,
# 8 GiB sparse by default, built by bench/make-large-images.sh) and reports wall time and peak
# memory of each run.
# Where The Sleuth Kit is installed, `fls -r -d` (list deleted entries recursively) runs on the
# same images in the same session, as a point of comparison, with the ratio of the two times.
#
# Usage (as root, since building the exFAT image needs a loop device and FUSE):
#   bench/scan-bench.sh [--tool PATH] [--scratch DIR] [--keep] [--runs N] [make-large-images options]
#
#   --tool PATH     the built kestrel-recovery-cli (default: build/release/cli/kestrel-recovery-cli)
#   --scratch DIR   where the images and recovered files go (default: a new temporary directory);
#                   images already there are reused, so a second run skips building them
#   --keep          leave the scratch directory in place (always kept when --scratch is given)
#   --runs N        time each scan N times and report the fastest (default 3)
#   other options   passed to bench/make-large-images.sh (for example --size-gib 4)
#
# Needs /usr/bin/time (GNU time) for peak memory, python3, and what make-large-images.sh needs.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
tool="$repo/build/release/cli/kestrel-recovery-cli"
scratch=""
keep=0
runs=3
image_options=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --tool) tool=$2; shift 2 ;;
    --scratch) scratch=$2; keep=1; shift 2 ;;
    --keep) keep=1; shift ;;
    --runs) runs=$2; shift 2 ;;
    *) image_options+=("$1"); shift ;;
  esac
done

[[ -x "$tool" ]] || { echo "tool not found: $tool (build it with: make build)" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "GNU time (/usr/bin/time) is needed for peak memory" >&2; exit 1; }

if [[ -z "$scratch" ]]; then
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-scan-bench.XXXXXX")
fi
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)
if [[ $keep -eq 0 ]]; then trap 'rm -rf "$scratch"' EXIT; fi

if [[ ! -f "$scratch/large-fat32.img" || ! -f "$scratch/large-exfat.img" ]]; then
  echo "== building the images in $scratch"
  "$repo/bench/make-large-images.sh" "$scratch" "${image_options[@]}"
  echo
fi

# Runs a command under GNU time; prints "<wall seconds> <peak KiB> <exit code>".
measure() {
  local log="$scratch/time.log"
  local code=0
  /usr/bin/time -v -o "$log" "$@" > "$scratch/stdout" 2> "$scratch/stderr" || code=$?
  python3 - "$log" "$code" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
wall = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (\S+)", text).group(1)
seconds = 0.0
for part in wall.split(":"):
    seconds = seconds * 60 + float(part)
peak = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1))
print(f"{seconds:.3f} {peak} {sys.argv[2]}")
PY
}

# The fastest of N runs: "<wall> <peak> <exit code>".
fastest() {
  local best=""
  for _ in $(seq "$runs"); do
    local result
    result=$(measure "$@")
    if [[ -z "$best" ]] || python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) < float(sys.argv[2]) else 1)" \
        "${result%% *}" "${best%% *}"; then
      best=$result
    fi
  done
  echo "$best"
}

have_fls=0
command -v fls >/dev/null && have_fls=1

printf '%-16s %-12s %10s %12s %10s  %s\n' image step "wall (s)" "peak (MiB)" count note
for name in large-fat32 large-exfat; do
  image="$scratch/$name.img"
  apparent=$(du --apparent-size -BG "$image" | cut -f1)

  read -r wall peak code < <(fastest "$tool" scan --image "$image")
  [[ $code -eq 0 ]] || { echo "scan failed on $image: $(cat "$scratch/stderr")" >&2; exit 1; }
  candidates=$(python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print(sum(len(f['candidates']) for f in d['filesystems']))" "$scratch/stdout")
  scan_wall=$wall
  printf '%-16s %-12s %10s %12s %10s  %s\n' "$name" scan "$wall" "$((peak / 1024))" "$candidates" "image of $apparent, best of $runs"

  read -r wall peak code < <(fastest "$tool" scan --image "$image" --all-directories)
  [[ $code -eq 0 ]] || { echo "scan --all-directories failed on $image: $(cat "$scratch/stderr")" >&2; exit 1; }
  candidates=$(python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print(sum(len(f['candidates']) for f in d['filesystems']))" "$scratch/stdout")
  all_wall=$wall
  printf '%-16s %-12s %10s %12s %10s  %s\n' "$name" "scan --all-d" "$wall" "$((peak / 1024))" "$candidates" "--all-directories, best of $runs"

  out="$scratch/recovered-$name"
  rm -rf "$out"
  read -r wall peak code < <(measure "$tool" recover-all --image "$image" --output-directory "$out")
  recovered=$(python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['recovered_count'])" "$scratch/stdout" 2>/dev/null || echo "?")
  written=$(du -sm "$out" | cut -f1)
  printf '%-16s %-12s %10s %12s %10s  %s\n' "$name" recover-all "$wall" "$((peak / 1024))" "$recovered" \
    "exit $code, ${written} MiB written"
  rm -rf "$out"

  if [[ $have_fls -eq 1 ]]; then
    read -r wall peak code < <(fastest fls -r -d "$image")
    entries=$(wc -l < "$scratch/stdout")
    ratio=$(python3 -c "import sys; print(f'{float(sys.argv[1]) / max(float(sys.argv[2]), 1e-3):.2f}')" "$scan_wall" "$wall")
    all_ratio=$(python3 -c "import sys; print(f'{float(sys.argv[1]) / max(float(sys.argv[2]), 1e-3):.2f}')" "$all_wall" "$wall")
    printf '%-16s %-12s %10s %12s %10s  %s\n' "$name" "fls -r -d" "$wall" "$((peak / 1024))" "$entries" \
      "exit $code; time / fls time: scan $ratio, scan --all-directories $all_ratio"
  fi
done
if [[ $have_fls -eq 0 ]]; then
  echo "(The Sleuth Kit's fls is not installed: no comparison run.)"
fi
if [[ $keep -eq 1 ]]; then echo "images kept in $scratch"; fi
