#!/usr/bin/env bash
# Builds two large, sparse disk images for timing scans (they are not committed anywhere):
#   <out>/large-fat32.img  FAT32, 8 GiB by default, 20,000+ files in nested directories
#   <out>/large-exfat.img  exFAT, 8 GiB by default, 6,000 files in the root plus nested ones
# In both, a quarter of the files are deleted afterwards; with --deleted-folders N, the first N
# top-level folders are then deleted whole (mdeltree, rm -r). Prints how long each step took.
#
# Usage (as root; the exFAT image is written through the FUSE driver on a loop device):
#   bench/make-large-images.sh OUT_DIR [--size-gib N] [--dirs N] [--subdirs N] [--files-per-dir N]
#                                      [--root-files N] [--deleted-folders N] [--skip-exfat]
# Defaults: --size-gib 8 --dirs 40 --subdirs 10 --files-per-dir 50 --root-files 6000, which gives
# 40 x 10 x 50 = 20,000 FAT32 files below the root (plus a few large ones) and 6,000 exFAT root files.
# Needs: mkfs.fat, mtools, mkfs.exfat, exfat-fuse, losetup, python3. The images are sparse: they
# occupy only the bytes written (a few hundred MiB) although their length is several GiB.
set -euo pipefail

usage() { sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
[[ $# -ge 1 ]] || usage
out=$1; shift
size_gib=8 dirs=40 subdirs=10 files_per_dir=50 root_files=6000 deleted_folders=0 skip_exfat=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --size-gib) size_gib=$2; shift 2 ;;
    --dirs) dirs=$2; shift 2 ;;
    --subdirs) subdirs=$2; shift 2 ;;
    --files-per-dir) files_per_dir=$2; shift 2 ;;
    --root-files) root_files=$2; shift 2 ;;
    --deleted-folders) deleted_folders=$2; shift 2 ;;
    --skip-exfat) skip_exfat=1; shift ;;
    *) usage ;;
  esac
done
mkdir -p "$out"
out=$(cd "$out" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-bench.XXXXXX")
mnt="$work/mnt"
loop=""
fuse_pid=""
cleanup() {
  if mountpoint -q "$mnt" 2>/dev/null; then umount "$mnt" || umount -l "$mnt" || true; fi
  if [[ -n "$fuse_pid" ]]; then wait "$fuse_pid" 2>/dev/null || true; fi
  if [[ -n "$loop" ]]; then losetup -d "$loop" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

export LANG=C.UTF-8 LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 MTOOLSRC="$work/mtoolsrc"
: > "$MTOOLSRC"

now() { date +%s.%N; }
start=$(now)
elapsed() { python3 -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.1f} s')" "$1" "$(now)"; }

# Source tree -------------------------------------------------------------------------------
t0=$(now)
python3 - "$work/src" "$dirs" "$subdirs" "$files_per_dir" "$root_files" <<'PY'
import os, random, sys
root, dirs, subdirs, per_dir, root_files = sys.argv[1], *map(int, sys.argv[2:])
rng = random.Random(20261208)
def write(path, size):
    with open(path, "wb") as handle:
        handle.write(b"\xFF\xD8\xFF\xE0" + rng.randbytes(size - 4))
tree = os.path.join(root, "tree")
for d in range(dirs):
    for s in range(subdirs):
        folder = os.path.join(tree, f"Folder {d:03d}", f"Album {s:02d}")
        os.makedirs(folder)
        for f in range(per_dir):
            write(os.path.join(folder, f"photo {d:03d}-{s:02d}-{f:03d}.jpg"), rng.randint(1_000, 24_000))
os.makedirs(os.path.join(tree, "Videos"))
for v in range(4):
    write(os.path.join(tree, "Videos", f"clip {v}.mp4"), 48 * 1024 * 1024)
flat = os.path.join(root, "flat")
os.makedirs(flat)
for f in range(root_files):
    write(os.path.join(flat, f"image {f:05d}.jpg"), rng.randint(1_000, 24_000))
PY
echo "source files generated: $(elapsed "$t0")"

report_total() { echo "total: $(elapsed "$start")"; }

# FAT32 -------------------------------------------------------------------------------------
fat="$out/large-fat32.img"
rm -f "$fat"
t0=$(now)
truncate -s "${size_gib}G" "$fat"
mkfs.fat -F 32 -s 8 -n LARGEFAT -i 4B454C46 --mbr=n "$fat" >/dev/null
t1=$(now)
mcopy -s -m -i "$fat" "$work/src/tree/"* ::/
echo "FAT32: copied $(find "$work/src/tree" -type f | wc -l) files in $(elapsed "$t1")"
t1=$(now)
# Delete every fourth file (paths as mtools sees them), many per mdel call.
(cd "$work/src/tree" && find . -type f | LC_ALL=C sort | awk 'NR % 4 == 0 { sub(/^\./, "::"); print }') \
  > "$work/fat-deleted.txt"
tr '\n' '\0' < "$work/fat-deleted.txt" | xargs -0 -n 500 mdel -i "$fat"
echo "FAT32: deleted $(wc -l < "$work/fat-deleted.txt") files in $(elapsed "$t1")"
for ((d = 0; d < deleted_folders; d++)); do mdeltree -i "$fat" "$(printf '::/Folder %03d' "$d")"; done
[[ $deleted_folders -eq 0 ]] || echo "FAT32: deleted $deleted_folders folders whole"
echo "FAT32 image $fat ($(du -h --apparent-size "$fat" | cut -f1) long, $(du -h "$fat" | cut -f1) on disk) built in $(elapsed "$t0")"

# exFAT -------------------------------------------------------------------------------------
if [[ $skip_exfat -eq 1 ]]; then report_total; exit 0; fi
if [[ $(id -u) -ne 0 ]]; then echo "exFAT skipped: run as root for loop devices and FUSE" >&2; report_total; exit 0; fi
ex="$out/large-exfat.img"
rm -f "$ex"
t0=$(now)
truncate -s "${size_gib}G" "$ex"
mkfs.exfat -L LARGEEXFAT "$ex" >/dev/null
mkdir -p "$mnt"
loop=$(losetup -f --show "$ex")
mount.exfat-fuse -d "$loop" "$mnt" >/dev/null 2>&1 &
fuse_pid=$!
for _ in $(seq 200); do mountpoint -q "$mnt" && break; sleep 0.05; done
mountpoint -q "$mnt" || { echo "the FUSE exFAT driver did not mount $loop" >&2; exit 1; }
t1=$(now)
cp -r "$work/src/flat/." "$mnt/"
cp -r "$work/src/tree/." "$mnt/"
echo "exFAT: copied $(find "$work/src" -type f | wc -l) files in $(elapsed "$t1")"
t1=$(now)
(cd "$mnt" && find . -maxdepth 1 -type f | LC_ALL=C sort | awk 'NR % 4 == 0' | tr '\n' '\0' | xargs -0 rm -f)
(cd "$mnt" && find . -mindepth 2 -type f | LC_ALL=C sort | awk 'NR % 4 == 0' | tr '\n' '\0' | xargs -0 rm -f)
echo "exFAT: deleted a quarter of the files in $(elapsed "$t1")"
for ((d = 0; d < deleted_folders; d++)); do rm -r "$(printf '%s/Folder %03d' "$mnt" "$d")"; done
[[ $deleted_folders -eq 0 ]] || echo "exFAT: deleted $deleted_folders folders whole"
umount "$mnt"
wait "$fuse_pid" || true
fuse_pid=""
losetup -d "$loop"
loop=""
echo "exFAT image $ex ($(du -h --apparent-size "$ex" | cut -f1) long, $(du -h "$ex" | cut -f1) on disk) built in $(elapsed "$t0")"
report_total
