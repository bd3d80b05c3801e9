#!/usr/bin/env bash
# scan and recover-all beside their peers on the images of bench/make-deleted-images.sh, in one
# session: wall time and peak memory of each run, fastest of N.
#   scan         beside  fls -r -d            (list every deleted entry)
#   recover-all  beside  tsk_recover          (copy out every deleted file)
#                and     cp -r + sync -f      (the same files copied from a plain tree, then
#                                              made durable, as recover-all leaves its files)
#
# Usage: bench/streaming-bench.sh IMAGES_DIR [--tool PATH] [--runs N] [--recover-limit N]
#   IMAGES_DIR       where make-deleted-images.sh put fat32-N.img, exfat-N.img and src-*-N/
#   --tool PATH      the built kestrel-recovery-cli (default: build/release/cli/kestrel-recovery-cli)
#   --runs N         runs per measurement, the fastest is kept (default 3)
#   --recover-limit  recover-all and its peers only on images of at most this many files
#                    (default 20000; copying 200,000 files three ways takes long)
# Needs /usr/bin/time (GNU time), fls and tsk_recover (The Sleuth Kit), python3.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
[[ $# -ge 1 ]] || { sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
images=$(cd "$1" && pwd); shift
tool="$repo/build/release/cli/kestrel-recovery-cli" runs=3 recover_limit=20000
while [[ $# -gt 0 ]]; do
  case "$1" in
    --tool) tool=$(readlink -f "$2"); shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --recover-limit) recover_limit=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
scratch=$(mktemp -d "$images/run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# measure LABEL PREPARE COMMAND...: fastest wall time and its peak memory over $runs runs;
# PREPARE (a shell snippet) runs before each run, untimed.
measure() {
  local label=$1 prepare=$2; shift 2
  local best="" 
  for ((r = 0; r < runs; r++)); do
    eval "$prepare"
    /usr/bin/time -f "%e %M" -o "$scratch/time" "$@" > "$scratch/stdout" 2> "$scratch/stderr" || true
    local line; line=$(tail -1 "$scratch/time")
    if [[ -z $best ]] || python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) < float(sys.argv[2]) else 1)" \
         "${line%% *}" "${best%% *}"; then best=$line; fi
  done
  printf '%-34s %8.2f s %8.1f MiB\n' "$label" "${best%% *}" "$(python3 -c "print(${best##* } / 1024)")"
}

for image in "$images"/fat32-*.img "$images"/exfat-*.img; do
  [[ -f $image ]] || continue
  name=$(basename "$image" .img) count=${name##*-} src="$images/src-$name"
  cat "$image" > /dev/null
  echo "== $name ($count deleted files)"
  measure "scan" ":" "$tool" scan --image "$image"
  echo "   (document: $(stat -c %s "$scratch/stdout") bytes, $(grep -c '"id"' "$scratch/stdout") candidates)"
  measure "fls -r -d" ":" fls -r -d "$image"
  [[ $count -le $recover_limit ]] || continue
  out="$scratch/out"
  measure "recover-all" "rm -rf '$out'" "$tool" recover-all --image "$image" --output-directory "$out"
  measure "tsk_recover" "rm -rf '$out'; mkdir -p '$out'" tsk_recover "$image" "$out"
  if [[ -d $src ]]; then
    measure "cp -r + sync -f" "rm -rf '$out'" sh -c "cp -r '$src/.' '$out' && sync -f '$out'"
  fi
  rm -rf "$out"
done
