#!/usr/bin/env python3
"""Counts the files of a bench card's truth that a recovery run gave back byte-exact.

    bench/count-byte-exact.py TRUTH.json DIR...
      -> "<exact> <exact of contiguous> <contiguous> <files> <exact of two-piece> <two-piece>"

A truth file counts once when some file below the directories has its SHA-256. Two-piece files are
those whose truth lists two "pieces".
"""

import hashlib
import json
import os
import sys


def digests(folder: str) -> set[str]:
    found = set()
    for root, _, names in os.walk(folder):
        for name in names:
            digest = hashlib.sha256()
            with open(os.path.join(root, name), "rb") as handle:
                for block in iter(lambda: handle.read(1 << 20), b""):
                    digest.update(block)
            found.add(digest.hexdigest())
    return found


def main() -> int:
    truth = json.load(open(sys.argv[1]))["files"]
    found = set().union(*(digests(d) for d in sys.argv[2:]))
    exact = [f for f in truth if f["sha256"] in found]
    contiguous = [f for f in truth if f["contiguous"]]
    two_piece = [f for f in truth if len(f.get("pieces", [])) == 2]
    print(len(exact), sum(f["contiguous"] for f in exact), len(contiguous), len(truth),
          sum(len(f.get("pieces", [])) == 2 for f in exact), len(two_piece))
    return 0


if __name__ == "__main__":
    sys.exit(main())
