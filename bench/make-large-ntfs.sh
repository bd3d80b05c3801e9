#!/usr/bin/env bash
# Makes a large NTFS image for the speed part of bench/ntfs-bench.sh (never committed): mkntfs, then
# the ntfs-3g driver on a loop device writes 110,000 tiny files (resident data, so each is one MFT
# record and no clusters) in 220 folders, unmounts, mounts again and deletes every fifth file
# (22,000 deleted records, their index entries removed from the folders).
#
# Usage (as root): bench/make-large-ntfs.sh [DIR]   (default: $TMPDIR/kestrel-large-ntfs)
#   leaves DIR/large.img (a 512 MiB sparse file, about 140 MiB of it written)
# Takes a few minutes; the driver is the limit (each file is a create, a write and a release
# through FUSE). Needs ntfs-3g (mkntfs, ntfs-3g), faketime, python3.
set -euo pipefail

dir="${1:-${TMPDIR:-/tmp}/kestrel-large-ntfs}"
folders=220
per_folder=500
if [[ $(id -u) -ne 0 ]]; then
  echo "run as root (a loop device and a FUSE mount are needed)" >&2
  exit 1
fi
for tool in mkntfs ntfs-3g faketime losetup python3; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
mkdir -p "$dir"
image="$dir/large.img"
mnt=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-large-ntfs-mnt.XXXXXX")
device=""
cleanup() {
  mountpoint -q "$mnt" && umount "$mnt"
  [[ -n "$device" ]] && losetup -d "$device" 2>/dev/null
  rmdir "$mnt"
}
trap cleanup EXIT

mount_volume() {
  device=$(losetup -f --show "$image")
  faketime -f "2026-03-14 09:00:00" ntfs-3g -o no_detach,noatime "$device" "$mnt" &
  driver=$!
  for _ in $(seq 200); do mountpoint -q "$mnt" && return 0; sleep 0.1; done
  echo "ntfs-3g did not mount $image" >&2
  exit 1
}
unmount_volume() {
  umount "$mnt"
  wait "$driver" || true
  losetup -d "$device"
  device=""
}

rm -f "$image" "$image.partial"
truncate -s 512M "$image"
faketime -f "2026-03-14 09:00:00" mkntfs -F -Q -q -L LARGE -c 4096 "$image" >/dev/null 2>&1

SECONDS=0
mount_volume
python3 - "$mnt" "$folders" "$per_folder" <<'PY'
import os, sys
root, folders, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for f in range(folders):
    folder = os.path.join(root, f"folder{f:03d}")
    os.mkdir(folder)
    for n in range(per):
        fd = os.open(os.path.join(folder, f"file{n:04d}.txt"), os.O_WRONLY | os.O_CREAT, 0o644)
        os.write(fd, f"folder {f} file {n}\n".encode())
        os.close(fd)
    if f % 20 == 19:
        print(f"  {(f + 1) * per} files written", file=sys.stderr, flush=True)
PY
unmount_volume
echo "written in ${SECONDS}s; deleting every fifth file" >&2
mount_volume
python3 - "$mnt" "$folders" "$per_folder" <<'PY'
import os, sys
root, folders, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for f in range(folders):
    for n in range(0, per, 5):
        os.unlink(os.path.join(root, f"folder{f:03d}", f"file{n:04d}.txt"))
PY
unmount_volume
echo "done in ${SECONDS}s: $image ($((folders * per_folder)) files, $((folders * per_folder / 5)) deleted)" >&2
