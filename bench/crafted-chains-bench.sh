#!/usr/bin/env bash
# Times `scan` on crafted FAT32 images whose deleted files all start at different
# clusters of one long chain (bench/make-crafted-chains.py), for a few file counts,
# and reports wall time and peak memory. Such an image is a few dozen MiB; walking
# each file's chain on its own would read 65,536 FAT entries per file.
#
# Usage: bench/crafted-chains-bench.sh [--tool PATH] [FILES ...]   (default: 2000 20000 131072)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
tool="$repo/build/release/cli/kestrel-recovery-cli"
if [[ "${1:-}" == "--tool" ]]; then tool=$2; shift 2; fi
counts=("$@")
[[ ${#counts[@]} -gt 0 ]] || counts=(2000 20000 131072)

[[ -x "$tool" ]] || { echo "tool not found: $tool (build it with: make build)" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "GNU time (/usr/bin/time) is needed for peak memory" >&2; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-crafted-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

printf '%-8s %-10s %-10s %-12s %s\n' files image_MiB scan_s peak_MiB candidates
for files in "${counts[@]}"; do
  image="$scratch/crafted-$files.img"
  python3 "$repo/bench/make-crafted-chains.py" "$files" "$image"
  /usr/bin/time -f '%e %M' -o "$scratch/time" "$tool" scan --image "$image" > "$scratch/out.json"
  read -r seconds peak_kib < "$scratch/time"
  candidates=$(grep -c '"recoverability": "fat-chain"' "$scratch/out.json" || true)
  printf '%-8s %-10s %-10s %-12s %s\n' "$files" "$(( $(stat -c %s "$image") / 1048576 ))" "$seconds" \
    "$(( peak_kib / 1024 ))" "$candidates"
  rm -f "$image"
done
