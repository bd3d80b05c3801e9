#!/usr/bin/env python3
"""Writes a crafted FAT32 image whose deleted files all share one long chain.

Usage: make-crafted-chains.py FILES OUT

The root directory holds FILES deleted entries. Entry i starts at cluster
FIRST + i on a single chain of FILES + 65,536 clusters, and each claims the
size of 65,536 clusters, so every file's own chain walk is 65,536 FAT entries
long and the walks overlap almost entirely. A scan that walks each file's
chain on its own reads FILES * 65,536 entries; one that shares what it learnt
between files reads about as many entries as the chain has.

The image is sparse: only the boot sector, the FAT and the root directory hold
data. 512-byte sectors, one sector per cluster.
"""
import struct
import sys

SECTOR = 512
NEED = 65536          # clusters every file claims: the most a chain walk collects
FIRST = 70000         # the chain's first cluster, well past the root directory


def main() -> None:
    files = int(sys.argv[1])
    out = sys.argv[2]
    reserved, fats = 32, 1
    root_clusters = (files * 32 + SECTOR - 1) // SECTOR + 1
    total_clusters = FIRST + files + NEED + 10
    fat_sectors = (4 * (total_clusters + 2) + SECTOR - 1) // SECTOR
    data_start = reserved + fats * fat_sectors
    total_sectors = data_start + total_clusters

    boot = bytearray(SECTOR)
    boot[0:3] = b"\xEB\x58\x90"
    boot[3:11] = b"MSWIN4.1"
    struct.pack_into("<HBHBHHBHHHII", boot, 11, SECTOR, 1, reserved, fats, 0, 0, 0xF8, 0, 63, 255, 0,
                     total_sectors)
    struct.pack_into("<IHHI", boot, 36, fat_sectors, 0, 0, 2)
    boot[71:82] = b"CRAFTED    "
    boot[82:90] = b"FAT32   "
    boot[510:512] = b"\x55\xAA"

    fat = bytearray(fat_sectors * SECTOR)
    struct.pack_into("<II", fat, 0, 0x0FFFFFF8, 0x0FFFFFFF)
    for cluster in range(2, 2 + root_clusters - 1):
        struct.pack_into("<I", fat, 4 * cluster, cluster + 1)
    struct.pack_into("<I", fat, 4 * (2 + root_clusters - 1), 0x0FFFFFFF)
    last = 2 + total_clusters - 1
    for cluster in range(FIRST, last):
        struct.pack_into("<I", fat, 4 * cluster, cluster + 1)
    struct.pack_into("<I", fat, 4 * last, 0x0FFFFFFF)

    root = bytearray(root_clusters * SECTOR)
    for i in range(files):
        entry = bytearray(32)
        entry[0] = 0xE5
        entry[1:8] = b"ILE    "
        entry[8:11] = b"BIN"
        entry[11] = 0x20
        start = FIRST + i
        struct.pack_into("<H", entry, 20, start >> 16)
        struct.pack_into("<H", entry, 26, start & 0xFFFF)
        struct.pack_into("<I", entry, 28, NEED * SECTOR)
        root[32 * i:32 * i + 32] = entry

    with open(out, "wb") as image:
        image.truncate(total_sectors * SECTOR)
        image.write(boot)
        image.seek(reserved * SECTOR)
        image.write(fat)
        image.seek(data_start * SECTOR)
        image.write(root)


if __name__ == "__main__":
    main()
