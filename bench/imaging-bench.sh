#!/usr/bin/env bash
# Imaging throughput against a plain copy. Makes a card file of random bytes
# (1 GiB unless SIZE_MIB says otherwise), images it with the engine (with and
# without flushed checkpoints) and copies it with dd bs=1M into the same
# directory, then prints the throughputs and the ratio.
#
#   bench/imaging-bench.sh [build directory] [work directory]
#
# The work directory needs room for the card and one copy (about 2 GiB).
set -euo pipefail

build=${1:-build/release}
work=${2:-$(mktemp -d "${TMPDIR:-/tmp}/kestrel-bench.XXXXXX")}
size_mib=${SIZE_MIB:-1024}
bench="$build/bench/kestrel_imaging_bench"
[[ -x $bench ]] || { echo "build the project first: $bench is missing" >&2; exit 2; }

mkdir -p "$work/out"
card="$work/card.bin"
if [[ ! -f $card || $(stat -c %s "$card") -ne $((size_mib * 1048576)) ]]; then
  head -c $((size_mib * 1048576)) /dev/urandom > "$card"
fi
cat "$card" > /dev/null  # both readers start from the same warm cache

engine_output=$("$bench" "$card" "$work/out")

copy="$work/out/dd.img"
start=$(date +%s.%N)
dd if="$card" of="$copy" bs=1M conv=fsync status=none
end=$(date +%s.%N)
rm -f "$copy"

echo "$engine_output" | grep -v '^RESULT'
python3 - "$engine_output" "$size_mib" "$start" "$end" <<'PY'
import sys
lines = [l.split() for l in sys.argv[1].splitlines() if l.startswith("RESULT")]
runs = {name: (int(b), float(s)) for _, name, b, s in lines}
size = int(sys.argv[2]) * 1048576
dd_seconds = float(sys.argv[4]) - float(sys.argv[3])
dd_rate = size / 1048576 / dd_seconds
print(f"  {'dd bs=1M conv=fsync':<28} {dd_rate:8.1f} MiB/s  ({dd_seconds:.2f} s)")
for name, (b, s) in runs.items():
    rate = b / 1048576 / s
    print(f"  {name} / dd = {rate / dd_rate:.2f}")
PY
