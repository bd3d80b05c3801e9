#!/usr/bin/env bash
# Records what the tool prints for every bundled image, so two builds can be compared byte for
# byte: scripts/capture-outputs.sh <cli> <folder>, then diff -r the two folders.
# For each image, sector size and flag set: scan's stdout, stderr and exit code, and recover-all's,
# with the SHA-256 of every file it wrote. Paths are relative and fixed, so they match across runs.
# Extra flags for every command can follow the folder (to capture a new option's outputs too).
set -euo pipefail

cli=$(realpath "$1")
out=$(realpath -m "$2")
shift 2
extra=("$@")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

flag_sets=("" "--all-directories" "--carve" "--all-directories --carve")

run() {  # run <name> <args...>: stdout, stderr and exit code into $out/<name>.*
  local name=$1
  shift
  local rc=0
  (cd "$work" && "$cli" "$@" >"$out/$name.stdout" 2>"$out/$name.stderr") || rc=$?
  echo "$rc" >"$out/$name.rc"
  # Recovered paths are absolute: the work folder's own name is replaced, so runs compare.
  sed -i "s|$work|<work>|g" "$out/$name.stdout" "$out/$name.stderr"
}

while IFS= read -r gz; do
  base=$(basename "$gz" .img.gz)
  gunzip -c "$gz" >"$work/image.img"
  for sector in 512 4096; do
    for i in "${!flag_sets[@]}"; do
      read -r -a flags <<<"${flag_sets[$i]}"
      tag="$base.s$sector.f$i"
      run "$tag.scan" scan --image image.img --sector-size "$sector" "${flags[@]}" "${extra[@]}"
      rm -rf "$work/out"
      mkdir "$work/out"
      run "$tag.recover-all" recover-all --image image.img --sector-size "$sector" \
        --output-directory out "${flags[@]}" "${extra[@]}"
      (cd "$work/out" && find . -type f -print0 | sort -z | xargs -0 -r sha256sum) \
        >"$out/$tag.recovered"
    done
  done
done < <(find "$root/tests/fixtures" "$root/samples" -name '*.img.gz' | sort)
run usage
run unknown-command frobnicate
