#!/usr/bin/env bash
# Carving on a quick-formatted card of at least 1 GiB, beside one read of the image (cat) and beside
# PhotoRec (Debian package testdisk), in the same run: wall time (median of three, page cache warm),
# peak memory, and how many of the card's files each gives back byte-exact.
#
#   bench/carving-bench.sh [BUILD_DIR] [WORK_DIR] [SIZE_MIB] [FRAGMENTED]
#
# The card is made once by bench/make-carving-card.py (real encoders, mtools, mkfs.fat) and reused
# (delete WORK_DIR/card.img to make it again with other arguments). FRAGMENTED photos (default none)
# are left in two pieces by a camera-like history of deleting a small photo and writing into its hole.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
tool=$(readlink -f "${1:-$here/../build/release}/cli/kestrel-recovery-cli")
work=${2:-/tmp/kestrel-carving-bench}
size=${3:-1280}
fragmented=${4:-0}
mkdir -p "$work"
image="$work/card.img"
[[ -f "$image" ]] || python3 "$here/make-carving-card.py" "$work" "$size" "$fragmented"

# Runs a command three times; prints the median wall time (s) and the largest peak memory (KiB).
measure() {
  local times=() peak=0
  for _ in 1 2 3; do
    [[ -n "${BEFORE:-}" ]] && eval "$BEFORE"
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" > /dev/null 2> "$work/stderr.txt"
    read -r t m < "$work/time.txt"
    times+=("$t")
    (( m > peak )) && peak=$m
  done
  printf '%s %s\n' "$(printf '%s\n' "${times[@]}" | sort -n | sed -n 2p)" "$peak"
}

cat "$image" > /dev/null; cat "$image" > /dev/null
read -r cat_time cat_peak < <(measure cat "$image")
read -r scan_time scan_peak < <(measure "$tool" scan --image "$image" --carve)
read -r all_time all_peak < <(BEFORE="rm -rf '$work/ours'" measure "$tool" recover-all --image "$image" --carve --output-directory "$work/ours")
read -r pr_time pr_peak < <(BEFORE="rm -rf '$work/photorec'; mkdir -p '$work/photorec'" measure photorec \
  /d "$work/photorec/recup" /cmd "$image" partition_none,fileopt,everything,enable,wholespace,search)

read -r ours ours_contiguous contiguous files ours_pieces pieces < <(python3 "$here/count-byte-exact.py" "$work/card.truth.json" "$work/ours")
read -r theirs theirs_contiguous _ _ theirs_pieces _ < <(python3 "$here/count-byte-exact.py" "$work/card.truth.json" "$work/photorec")
ratio() { python3 -c "print(f'{$1 / $2:.2f}')"; }

echo "card: $(( $(stat -c %s "$image") >> 20 )) MiB, $files files ($contiguous in one run of clusters)"
printf '%-34s %8s %10s %10s %16s\n' "run" "time (s)" "x cat" "peak KiB" "byte-exact"
printf '%-34s %8s %10s %10s %16s\n' "cat image > /dev/null" "$cat_time" "1.00" "$cat_peak" "-"
printf '%-34s %8s %10s %10s %16s\n' "scan --carve" "$scan_time" "$(ratio "$scan_time" "$cat_time")" "$scan_peak" "-"
printf '%-34s %8s %10s %10s %16s\n' "recover-all --carve" "$all_time" "$(ratio "$all_time" "$cat_time")" "$all_peak" \
  "$ours ($ours_contiguous/$contiguous)"
printf '%-34s %8s %10s %10s %16s\n' "photorec (whole space)" "$pr_time" "$(ratio "$pr_time" "$cat_time")" "$pr_peak" \
  "$theirs ($theirs_contiguous/$contiguous)"
echo "fragmented byte-exact: ours $ours_pieces/$pieces, photorec $theirs_pieces/$pieces"
