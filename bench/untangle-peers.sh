#!/usr/bin/env bash
# The interleaved-file fixtures (tests/fixtures/untangle) given back by this tool with and without
# --untangle and by The Sleuth Kit (fls -r -d -p for the deleted entries, icat -r for each), in the
# same run: how many of the deleted files the truth says can come back (untangled or exact) each
# gives back byte-exact, and the wall time of each whole run.
#
#   bench/untangle-peers.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
tool=$(readlink -f "${1:-$here/../build/release}/cli/kestrel-recovery-cli")
work=${2:-/tmp/kestrel-untangle-peers}
rm -rf "$work"
mkdir -p "$work"

# Seconds since the epoch, with nanoseconds.
now() { date +%s.%N; }
elapsed() { python3 -c "print(f'{$2 - $1:.2f}')"; }

printf '%-16s %10s %18s %18s %18s\n' "image" "recoverable" "kestrel" "kestrel --untangle" "fls + icat -r"
for truth in "$here"/../tests/fixtures/untangle/untangle-*.truth.json; do
  name=$(basename "$truth" .truth.json)
  image="$work/$name.img"
  zcat "${truth%.truth.json}.img.gz" >"$image"

  t0=$(now)
  "$tool" recover-all --image "$image" --all-directories --output-directory "$work/$name-plain" >/dev/null 2>&1
  t1=$(now)
  "$tool" recover-all --image "$image" --all-directories --untangle \
    --output-directory "$work/$name-untangled" >/dev/null 2>&1
  t2=$(now)
  mkdir -p "$work/$name-tsk"
  count=0
  while read -r inode; do
    count=$((count + 1))
    icat -r "$image" "$inode" >"$work/$name-tsk/$count" 2>/dev/null || true
  done < <(fls -r -d -p "$image" 2>/dev/null | sed -n 's/^[^ ]* \* \([0-9]*\)\(([^)]*)\)\?:.*/\1/p')
  t3=$(now)

  read -r recoverable plain untangled tsk < <(python3 - "$truth" "$work/$name" <<'EOF'
import hashlib, json, os, sys
truth = [f for f in json.load(open(sys.argv[1]))["files"]
         if f["deleted"] and f["expect"] in ("untangled", "exact")]
def digests(folder):
    found = set()
    for root, _, names in os.walk(folder):
        for name in names:
            with open(os.path.join(root, name), "rb") as handle:
                found.add(hashlib.sha256(handle.read()).hexdigest())
    return found
counts = [sum(f["sha256"] in digests(sys.argv[2] + suffix) for f in truth)
          for suffix in ("-plain", "-untangled", "-tsk")]
print(len(truth), *counts)
EOF
  )
  printf '%-16s %10s %11s (%ss) %11s (%ss) %11s (%ss)\n' "$name" "$recoverable" \
    "$plain" "$(elapsed "$t0" "$t1")" "$untangled" "$(elapsed "$t1" "$t2")" \
    "$tsk" "$(elapsed "$t2" "$t3")"
done
