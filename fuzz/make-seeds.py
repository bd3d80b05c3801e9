#!/usr/bin/env python3
"""Cuts the seed corpus of the image harnesses from the real-tool fixtures.

Each seed is a fixture in the sparse form of fuzz/sparse_image_input.hpp: the
image's length, then its first non-zero 512-byte sectors as records (at most
--sectors of them), so a seed stays small while naming a volume of the
fixture's true size. The four lowest bits of the length field are the harness
options (see the harnesses); this script sets bit 1 (4096-byte logical
sectors) for the fixtures scanned that way and writes each file-system fixture
twice, with and without bit 0 (every folder walked), except the carving cards:
only the fragmented ones, once, with bit 2 (free space carved), and the
interleaved files' volumes: once, with bit 3 (--untangle).

NTFS seeds keep other sectors: the MFT lies far into the volume, so each
holds the boot sectors and partition tables (the first and last non-zero
sectors), every sector of every MFT record, and the first sectors of each run
the truth file lists for its files (their content and compressed units).

    fuzz/make-seeds.py            rewrites fuzz/corpus/{partition_table,fat12_16,fat32,exfat,ntfs}/
"""
import argparse
import gzip
import json
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent.parent
FIXTURES = ROOT / "tests" / "fixtures"
SECTOR = 512


def sparse_seed(image: bytes, options: int, limit: int) -> bytes:
    records = []
    for offset in range(0, len(image), SECTOR):
        sector = image[offset:offset + SECTOR]
        if any(sector):
            records.append(struct.pack("<I", offset // SECTOR) + sector)
            if len(records) == limit:
                break
    return struct.pack("<Q", len(image) | options) + b"".join(records)


def ntfs_seed(image: bytes, options: int, truth: dict) -> bytes:
    wanted = set()
    nonzero = [o // SECTOR for o in range(0, len(image), SECTOR) if any(image[o:o + SECTOR])]
    wanted.update(nonzero[:8] + nonzero[-8:])
    partition = truth["partitions"][0]
    unit = truth["sector_size"]
    start = partition["start_lba"] * unit // SECTOR
    record = partition["record_size"] // SECTOR
    for sector in nonzero:
        offset = sector * SECTOR
        if image[offset:offset + 4] == b"FILE":
            wanted.update(range(sector, sector + record))
    cluster = partition["cluster_size"] // SECTOR
    for file in truth["files"]:
        for _, lcn, _ in file.get("runs") or []:
            if lcn is not None:
                wanted.update(range(start + lcn * cluster, start + lcn * cluster + 2))
    records = [struct.pack("<I", sector) + image[sector * SECTOR:(sector + 1) * SECTOR]
               for sector in sorted(wanted) if sector * SECTOR < len(image)]
    return struct.pack("<Q", len(image) | options) + b"".join(records)


def sector_size_of(fixture: pathlib.Path) -> int:
    truth = fixture.with_name(fixture.name.replace(".img.gz", ".truth.json"))
    if not truth.exists():
        return 4096 if "4096" in fixture.name else SECTOR
    return json.loads(truth.read_text())["sector_size"]


def write(folder: str, name: str, seed: bytes) -> None:
    path = ROOT / "fuzz" / "corpus" / folder / name
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(seed)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sectors", type=int, default=64, help="records per file-system seed")
    args = parser.parse_args()
    for fixture in sorted(FIXTURES.glob("*/*.img.gz")):
        name = fixture.name.removesuffix(".img.gz")
        image = gzip.decompress(fixture.read_bytes())
        large_sectors = 2 if sector_size_of(fixture) == 4096 else 0
        if fixture.parent.name == "partition" or name.startswith("disk-"):
            write("partition_table", name, sparse_seed(image, 0, 16))
        if fixture.parent.name == "partition":
            continue
        if fixture.parent.name == "ntfs":
            truth = json.loads(fixture.with_name(name + ".truth.json").read_text())
            write("ntfs", name + "-all-directories", ntfs_seed(image, large_sectors | 1, truth))
            if name == "ntfs-basic":
                write("ntfs", name, ntfs_seed(image, 0, truth))
                write("ntfs", name + "-carve", ntfs_seed(image, 4, truth))
            continue
        for folder, marks in (("fat12_16", ("fat12", "fat16")), ("fat32", ("fat32",)),
                              ("exfat", ("exfat",))):
            if not any(mark in name for mark in marks):
                continue
            if name.startswith("untangle-"):
                # The plan reads the FAT and each deleted file's first bytes: more sectors.
                write(folder, name, sparse_seed(image, large_sectors | 8, 2 * args.sectors))
                continue
            if name.startswith("carve-"):
                # Carving needs the folders' clusters and the files' data too: more sectors.
                if name.endswith("-fragmented"):
                    write(folder, name + "-carve", sparse_seed(image, large_sectors | 4, 4 * args.sectors))
                continue
            write(folder, name, sparse_seed(image, large_sectors, args.sectors))
            write(folder, name + "-all-directories", sparse_seed(image, large_sectors | 1, args.sectors))


if __name__ == "__main__":
    main()
