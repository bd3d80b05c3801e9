#!/usr/bin/env bash
# Imaging throughput beside the peer tools, in one run over one medium: a card
# file of random bytes (1 GiB unless SIZE_MIB says otherwise) is
#   - imaged by `image` of the tool built on the simulated device platform
#     (the card as a USB drive, read through the guarded raw reader, the
#     checkpoint kept as in real use),
#   - rescued by GNU ddrescue (a fresh map file, default options),
#   - copied by dd bs=1M conv=fsync,
# each into the same output directory, from a warm cache, best of RUNS runs
# (3 unless told), with the processor time (user and system, all threads) of
# the best run. Then kestrel_imaging_bench gives the engine's time per 1 MiB
# chunk split into read, hash, write and checkpoint.
#
#   bench/imaging-bench.sh [build directory] [work directory]
#
# The work directory needs room for the card and one copy (about 2 GiB).
set -euo pipefail

build=${1:-build/release}
work=${2:-$(mktemp -d "${TMPDIR:-/tmp}/kestrel-bench.XXXXXX")}
size_mib=${SIZE_MIB:-1024}
runs=${RUNS:-3}
tool="$build/tests/kestrel-recovery-cli-simulated"
bench="$build/bench/kestrel_imaging_bench"
for program in "$tool" "$bench"; do
  [[ -x $program ]] || { echo "build the project first: $program is missing" >&2; exit 2; }
done
command -v ddrescue > /dev/null || { echo "ddrescue is missing (apt-get install gddrescue)" >&2; exit 2; }

mkdir -p "$work/out"
card="$work/card.bin"
bytes=$((size_mib * 1048576))
if [[ ! -f $card || $(stat -c %s "$card") -ne $bytes ]]; then
  head -c "$bytes" /dev/urandom > "$card"
fi
cat > "$work/machine.json" <<JSON
{
  "system_directory": "C:\\\\Windows",
  "drives_holding": {"$work": [0]},
  "disks": [
    {"number": 0, "bus_type_code": 11, "length": 274877906944, "removable": false},
    {"number": 2, "bus_type_code": 7, "length": $bytes, "vendor": "Bench", "product": "Card",
     "serial": "BENCH1", "content": "card.bin"}
  ],
  "volumes": [{"letter": "C", "disk": 0}, {"letter": "E", "disk": 2}]
}
JSON

copy() {
  local name=$1 out=$2
  case $name in
    kestrel) KESTREL_SIMULATED_PLATFORM="$work/machine.json" \
               "$tool" image --physical-drive 2 --output "$out" > "$work/out/result.json" 2> /dev/null ;;
    ddrescue) ddrescue -q "$card" "$out" "$out.map" ;;
    dd) dd if="$card" of="$out" bs=1M conv=fsync status=none ;;
  esac
}

# Seconds one copy takes, wall and processor (user, system); the output (and
# ddrescue's map) removed afterwards.
time_copy() {
  local name=$1
  local out="$work/out/$name.img"
  rm -f "$out" "$out.partial.json" "$out.map"
  cat "$card" > /dev/null  # every reader starts from the same warm cache
  local measured
  measured=$( { TIMEFORMAT='%R %U %S'; time copy "$name" "$out"; } 2>&1 )
  [[ $(stat -c %s "$out") -eq $bytes ]] || { echo "$name wrote a short copy" >&2; exit 1; }
  if [[ $name == kestrel ]]; then
    grep -q "\"complete\": true" "$work/out/result.json" || { echo "image failed" >&2; exit 1; }
  fi
  rm -f "$out" "$out.partial.json" "$out.map"
  echo "$name $measured"
}

times=""
for ((i = 0; i < runs; ++i)); do
  for name in kestrel ddrescue dd; do
    times+="$(time_copy "$name")"$'\n'
  done
done

python3 - "$size_mib" "$runs" "$times" <<'PY'
import sys
size, runs, lines = int(sys.argv[1]), sys.argv[2], sys.argv[3].split("\n")
best, walls = {}, {}
for name, wall, user, system in (l.split() for l in lines if l):
    run = (float(wall), float(user) + float(system))
    walls.setdefault(name, []).append(run[0])
    if name not in best or run[0] < best[name][0]:
        best[name] = run
print(f"image of a {size} MiB card, best of {runs} (processor time of that run, all threads):")
for name, (seconds, cpu) in best.items():
    print(f"  {name:<22} {size / seconds:8.1f} MiB/s  ({seconds:.2f} s; "
          f"cpu {cpu:.2f} s, {cpu * 1000 / size:.3f} ms per MiB)")
    print(f"  {'':<22} every run, s: {' '.join(f'{w:.2f}' for w in walls[name])}")
print(f"  kestrel / ddrescue = {best['ddrescue'][0] / best['kestrel'][0]:.2f}, "
      f"kestrel / dd = {best['dd'][0] / best['kestrel'][0]:.2f}")
PY

cat "$card" > /dev/null
"$bench" "$card" "$work/out"
