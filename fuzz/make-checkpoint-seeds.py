#!/usr/bin/env python3
"""Writes the seed corpus of the checkpoint harness (fuzz/corpus/checkpoint/).

Checkpoints laid out as the image command saves them (docs/checkpoint-format.md):
two-space indent, members in order, no final line feed, the record's digest
over the byte encoding of the other members. A fresh one, one part-way with
unreadable ranges, a finished one, and one whose digest is wrong.
"""
import hashlib
import json
import pathlib
import struct

OUT = pathlib.Path(__file__).resolve().parent / "corpus" / "checkpoint"


def text(value: str) -> bytes:
    data = value.encode()
    return struct.pack("<Q", len(data)) + data


def digest(record: dict) -> str:
    encoded = text(record["schema"]) + text(record["source_stable_id"])
    encoded += struct.pack("<QIQ", record["source_capacity"], record["logical_sector_size"], record["bytes_written"])
    encoded += text(record["image_prefix_sha256"]) + struct.pack("<Q", len(record["read_errors"]))
    for error in record["read_errors"]:
        encoded += struct.pack("<QQ", error["offset"], error["length"]) + text(error["error"])
    return hashlib.sha256(encoded).hexdigest()


def checkpoint(stable_id: str, capacity: int, sector: int, written: bytes, errors: list) -> dict:
    record = {
        "schema": "1.0",
        "source_stable_id": stable_id,
        "source_capacity": capacity,
        "logical_sector_size": sector,
        "bytes_written": len(written),
        "image_prefix_sha256": hashlib.sha256(written).hexdigest(),
        "read_errors": errors,
    }
    record["checkpoint_sha256"] = digest(record)
    return record


def main() -> None:
    OUT.mkdir(parents=True, exist_ok=True)
    usb = "usb:0781:5581:4C530001230303116304"
    seeds = {
        "fresh": checkpoint(usb, 31914983424, 512, b"", []),
        "part-way-with-read-errors": checkpoint(usb, 1 << 30, 512, bytes(1 << 20) + b"\x01" * 4096, [
            {"offset": 4096, "length": 512, "error": "I/O error: Input/output error (os error 5)"},
            {"offset": 65536, "length": 8192, "error": "device disconnected during read"},
        ]),
        "finished-4096-sectors": checkpoint("disk:WD-WCC4N0123456", 1 << 20, 4096, bytes(1 << 20), []),
    }
    wrong = dict(seeds["fresh"])
    wrong["checkpoint_sha256"] = "0" * 64
    seeds["wrong-digest"] = wrong
    for name, record in seeds.items():
        (OUT / name).write_text(json.dumps(record, indent=2, ensure_ascii=False))


if __name__ == "__main__":
    main()
