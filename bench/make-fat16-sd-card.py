#!/usr/bin/env python3
"""Makes the 2 GB FAT16 SD card of the FAT12/FAT16 benchmark (never committed).

mkfs.fat -F 16 -s 64 over 3,862,528 sectors, the size of a 2 GB card, gives 32 KiB clusters (about
60,300 of them); mtools then writes a camera's history onto it: photos and clips in
/DCIM/100CANON, /DCIM/101CANON with a subfolder, every fourth photo of 100CANON deleted, new photos
in /DCIM/102CANON written into the holes that left (mtools looks for free clusters from cluster 2
on FAT16, so the larger ones run on past the last file), a third of those deleted again, and
/DCIM/101CANON deleted whole with mdeltree. The truth lists every file as the writer wrote it:
path, size, SHA-256, whether it was deleted, its first cluster, cluster count and number of runs as
read back before any deletion, and whether its bytes still lie in one run from the first cluster
on the finished card.

    bench/make-fat16-sd-card.py WORKDIR   -> WORKDIR/card.img, WORKDIR/card.truth.json
"""

import json
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "fixtures"))
import content  # noqa: E402
from content import sha256_hex, tagged  # noqa: E402
from volume_builders import FatBuilder, runs_of  # noqa: E402

SECTORS = 3_862_528  # a 2 GB SD card
KIB = 1024


def photo(tag: str, seed: int) -> bytes:
    """A photo of 300 KiB to 2.3 MiB, its size drawn from the seed byte."""
    return tagged(tag, 300 * KIB + seed * 8 * KIB, "jpg")


def main() -> int:
    work = os.path.abspath(sys.argv[1])
    os.makedirs(work, exist_ok=True)
    os.environ.update(LANG="C.UTF-8", LC_ALL="C.UTF-8", TZ="UTC", MTOOLS_SKIP_CHECK="1",
                      MTOOLSRC=os.path.join(work, "mtoolsrc"))
    open(os.environ["MTOOLSRC"], "w").close()  # no personal mtools configuration
    image = os.path.join(work, "card.img")
    scratch = os.path.join(work, "scratch")
    if os.path.exists(scratch):
        raise SystemExit(f"{scratch} is left from an earlier run: remove it first")
    b = FatBuilder(scratch, image)
    b.mkfs(SECTORS // 2, "CANON_DC", 0x4B455321, sectors_per_cluster=64, fat_bits=16)
    seeds = content.seeded_bytes("fat16 bench sizes", 400)
    b.mkdir("/DCIM", "/DCIM/100CANON", "/DCIM/101CANON", "/DCIM/101CANON/Favourites",
            "/DCIM/102CANON")
    b.write_many("/DCIM/100CANON", [(f"IMG_{n:04d}.JPG", photo(f"bench 100 {n}", seeds[n]), "")
                                    for n in range(1, 241)])
    b.write_many("/DCIM/100CANON", [(f"MVI_{n:04d}.MP4", tagged(f"bench clip {n}", (3 * n - 708) * KIB * KIB,
                                                                "mp4"), "") for n in range(241, 247)])
    b.write_many("/DCIM/101CANON", [(f"IMG_{n:04d}.JPG", photo(f"bench 101 {n}", seeds[n]), "")
                                    for n in range(247, 307)])
    b.write_many("/DCIM/101CANON/Favourites",
                 [(f"즐겨찾기 {n:02d}.jpg", photo(f"bench favourite {n}", seeds[300 + n]), "")
                  for n in range(1, 21)])
    b.delete(*[f"/DCIM/100CANON/IMG_{n:04d}.JPG" for n in range(4, 241, 4)],
             "/DCIM/100CANON/MVI_0242.MP4", "/DCIM/100CANON/MVI_0245.MP4")
    b.write_many("/DCIM/102CANON", [(f"IMG_{n:04d}.JPG", photo(f"bench 102 {n}", seeds[n - 200]), "")
                                    for n in range(307, 347)])
    b.delete(*[f"/DCIM/102CANON/IMG_{n:04d}.JPG" for n in range(307, 347, 3)])
    b.deltree("/DCIM/101CANON")
    code, report = b.fsck()
    if code != 0:
        raise SystemExit(f"fsck.fat -n found problems:\n{report}")
    with b.volume() as volume:
        # Whether the bytes still lie in one run from the first cluster in the finished card (what
        # any reading of a freed chain as one run can give back at best).
        in_place = {r.path: bool(r.clusters) and volume.read_contiguous(r.clusters[0], r.size) == r.data
                    for r in b.records.values()}
    files = [{"partition_index": 1, "path": r.path, "size": r.size, "sha256": sha256_hex(r.data),
              "deleted": r.deleted, "first_cluster": r.clusters[0] if r.clusters else 0,
              "clusters": len(r.clusters), "runs": len(runs_of(r.clusters)),
              "in_place": in_place[r.path]} for r in b.records.values()]
    truth = {"image": "card.img", "sector_size": 512,
             "partitions": [{"index": 1, "start_lba": 0, "filesystem": "fat16", "cluster_size": 32 * KIB}],
             "files": files}
    with open(os.path.join(work, "card.truth.json"), "w") as handle:
        json.dump(truth, handle, indent=1, ensure_ascii=False)
    deleted = [f for f in files if f["deleted"]]
    print(f"{len(files)} files, {sum(f['size'] for f in files) >> 20} MiB; {len(deleted)} deleted, "
          f"{sum(f['runs'] > 1 for f in deleted)} of them fragmented, "
          f"{sum(f['in_place'] for f in deleted)} still in one run from their first cluster")
    shutil.rmtree(scratch)
    return 0


if __name__ == "__main__":
    sys.exit(main())
