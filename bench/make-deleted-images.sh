#!/usr/bin/env bash
# Builds the images of the streaming bench (not committed anywhere), all sparse:
#   <out>/fat32-<N>.img   FAT32, N small photos in N/200 folders below DCIM, every photo deleted
#                         (the folders stay), for each N given with --fat32
#   <out>/exfat-<N>.img   exFAT, N small photos in the root, then 64 live files after them (so
#                         the root keeps its clusters), then every photo deleted, for each --exfat N
#   <out>/src-fat32-<N>/  the same files as a plain tree (for copying with cp -r)
#   <out>/src-exfat-<N>/  likewise
# Photos are 1 to 8 KiB (a JPEG start, then random bytes); 4 KiB clusters.
#
# Usage (as root; the exFAT images are written through the FUSE driver on a loop device):
#   bench/make-deleted-images.sh OUT_DIR [--fat32 "2000 20000 200000"] [--exfat "500 5000 50000"]
# Images already in OUT_DIR are kept. Prints how long each step took.
set -euo pipefail

usage() { sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
[[ $# -ge 1 ]] || usage
out=$1; shift
fat_sizes="2000 20000 200000" exfat_sizes="500 5000 50000"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --fat32) fat_sizes=$2; shift 2 ;;
    --exfat) exfat_sizes=$2; shift 2 ;;
    *) usage ;;
  esac
done
mkdir -p "$out"
out=$(cd "$out" && pwd)
export LANG=C.UTF-8 LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 MTOOLSRC="$out/.mtoolsrc"
: > "$MTOOLSRC"

now() { date +%s.%N; }
elapsed() { python3 -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.1f} s')" "$1" "$(now)"; }

# make_tree DIR COUNT PER_FOLDER: COUNT photos, PER_FOLDER to a folder (0: all in DIR itself)
make_tree() {
  python3 - "$1" "$2" "$3" <<'PY'
import os, random, sys
root, count, per_folder = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(20261208 + count)
for i in range(count):
    folder = os.path.join(root, "DCIM", f"Folder {i // per_folder:04d}") if per_folder else root
    if per_folder and i % per_folder == 0: os.makedirs(folder)
    with open(os.path.join(folder, f"photo {i:06d}.jpg"), "wb") as handle:
        handle.write(b"\xFF\xD8\xFF\xE0" + rng.randbytes(rng.randint(1024, 8192) - 4))
PY
}

for n in $fat_sizes; do
  img="$out/fat32-$n.img" src="$out/src-fat32-$n"
  [[ -f "$img" ]] && continue
  t0=$(now)
  rm -rf "$src"; mkdir -p "$src"; make_tree "$src" "$n" 200
  size_mib=$(( 256 + n * 10 / 1024 ))
  truncate -s "${size_mib}M" "$img.part"
  mkfs.fat -F 32 -s 8 -n BENCHFAT --mbr=n "$img.part" >/dev/null
  mcopy -s -m -i "$img.part" "$src/DCIM" ::/
  for folder in "$src"/DCIM/*; do mdel -i "$img.part" "::/DCIM/$(basename "$folder")/*"; done
  mv "$img.part" "$img"
  echo "fat32-$n: $n deleted files in $(ls "$src/DCIM" | wc -l) folders, built in $(elapsed "$t0")"
done

for n in $exfat_sizes; do
  img="$out/exfat-$n.img" src="$out/src-exfat-$n"
  [[ -f "$img" ]] && continue
  t0=$(now)
  rm -rf "$src"; mkdir -p "$src"; make_tree "$src" "$n" 0
  size_mib=$(( 256 + n * 10 / 1024 ))
  truncate -s "${size_mib}M" "$img.part"
  mkfs.exfat -c 4096 -L BENCHEXFAT "$img.part" >/dev/null
  mnt=$(mktemp -d) loop=$(losetup -f --show "$img.part")
  mount.exfat-fuse -d "$loop" "$mnt" >/dev/null 2>&1 &
  fuse_pid=$!
  for _ in $(seq 200); do mountpoint -q "$mnt" && break; sleep 0.05; done
  (cd "$src" && find . -maxdepth 1 -type f | LC_ALL=C sort | tr '\n' '\0' | xargs -0 cp -t "$mnt")
  for k in $(seq 64); do printf 'kept %d\n' "$k" > "$mnt/kept $k.txt"; done
  (cd "$mnt" && find . -maxdepth 1 -type f -name 'photo *' | tr '\n' '\0' | xargs -0 rm -f)
  umount "$mnt"; wait "$fuse_pid" || true; losetup -d "$loop"; rmdir "$mnt"
  mv "$img.part" "$img"
  echo "exfat-$n: $n deleted root files and 64 live ones after them, built in $(elapsed "$t0")"
done
