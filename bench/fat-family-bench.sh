#!/usr/bin/env bash
# FAT12 and FAT16: per image, how many of its deleted files each of two tools gives back byte-exact
# (SHA-256 equal to what the fixture script wrote), side by side: The Sleuth Kit (every regular file
# `fls -r -p -d` lists as deleted, read with `icat`) and this tool (`scan` and `recover-all`, both
# with --all-directories). Also the number of deleted files the truth expects byte-exact with
# --all-directories (the fixtures' judgement; not judged for the card).
#
# Usage: bench/fat-family-bench.sh [--tool PATH] [--card-dir DIR] [FIXTURE.img.gz ...]
#   --tool PATH      the built kestrel-recovery-cli (default: build/release/cli/kestrel-recovery-cli)
#   --card-dir DIR   where the 2 GB FAT16 card is made and kept between runs (default:
#                    $TMPDIR/kestrel-fat16-bench-card; delete DIR/card.img to make it again)
#   fixtures         default: every FAT12/FAT16 fixture in tests/fixtures/filesystems
#
# Besides the fixtures (each decompressed into a scratch directory and removed after), the bench
# reads a 2 GB SD card formatted FAT16 with 32 KiB clusters, with 366 photos and clips of which 156
# were deleted, 8 of those fragmented, 41 overwritten by later photos (bench/make-fat16-sd-card.py;
# mkfs.fat and mtools under faketime, the same card every time, never committed). A truth file's deleted, non-empty files are counted; a file counts as given back when
# an output of the tool carries its digest on its partition (files with equal bytes, such as the
# entry a rename left behind and the renamed file, each need an output of their own).
#
# The two tools read a deleted file whose chain is gone differently: this one reads it as one run
# from its first cluster, icat was seen to pass over the clusters in use, so each gets some files the
# other does not (a fragmented file wrapped around a live one; a kept chain, an entry a rename left
# behind). The paths each one alone gets are listed under the table.
#
# Needs python3, fls and icat (sleuthkit), and for the card mkfs.fat, fsck.fat, mtools and faketime.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
tool="$repo/build/release/cli/kestrel-recovery-cli"
card_dir="${TMPDIR:-/tmp}/kestrel-fat16-bench-card"
fixtures=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --tool) tool=$2; shift 2 ;;
    --card-dir) card_dir=$2; shift 2 ;;
    *) fixtures+=("$1"); shift ;;
  esac
done
if [[ ${#fixtures[@]} -eq 0 ]]; then
  fixtures=("$repo"/tests/fixtures/filesystems/fat12-*.img.gz "$repo"/tests/fixtures/filesystems/fat16-*.img.gz
            "$repo"/tests/fixtures/filesystems/disk-mbr-fat16-fat12.img.gz)
fi
for needed in python3 fls icat; do
  command -v "$needed" >/dev/null || { echo "missing tool: $needed (scripts/install-deps.sh --fixtures)" >&2; exit 1; }
done
if [[ ! -x "$tool" ]]; then
  echo "note: $tool is not there (build it with: make build); its column shows '-'" >&2
fi

if [[ ! -f "$card_dir/card.img" || ! -f "$card_dir/card.truth.json" ]]; then
  for needed in mkfs.fat fsck.fat mcopy mdel mdeltree mshowfat faketime; do
    command -v "$needed" >/dev/null || { echo "missing tool: $needed (scripts/install-deps.sh --fixtures)" >&2; exit 1; }
  done
  rm -rf "$card_dir"
  echo "making the 2 GB FAT16 card in $card_dir" >&2
  python3 "$repo/bench/make-fat16-sd-card.py" "$card_dir" >&2
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-fat-family-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

python3 - "$tool" "$scratch" "$card_dir" "${fixtures[@]}" <<'PY'
import collections, gzip, hashlib, json, os, shutil, subprocess, sys

tool, scratch, card_dir, fixtures = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
have_tool = os.access(tool, os.X_OK)


def sha256_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as handle:
        for block in iter(lambda: handle.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def wanted(truth):
    """(partition, sha256) of every deleted, non-empty file the script wrote, with its count."""
    return collections.Counter((f["partition_index"], f["sha256"]) for f in truth["files"]
                               if f["deleted"] and f["size"] > 0)


def expected_exact(truth):
    if not all("all_directories" in f for f in truth["files"]):
        return None
    return sum(1 for f in truth["files"] if f["deleted"] and f["size"] > 0
               and f["all_directories"]["expect"] == "exact")


def given_back(found, want):
    return sum(min(found[key], count) for key, count in want.items())


def paths_of(found, truth):
    """The deleted files' paths a tool gave back, as many per digest as it gave."""
    left = collections.Counter(found)
    paths = set()
    for f in truth["files"]:
        key = (f["partition_index"], f["sha256"])
        if f["deleted"] and f["size"] > 0 and left[key] > 0:
            left[key] -= 1
            paths.add(f["path"])
    return paths


def sleuth_kit(image, truth):
    found = collections.Counter()
    for partition in truth["partitions"]:
        if partition["filesystem"] == "unknown":
            continue
        offset = str(partition["start_lba"] * truth["sector_size"] // 512)
        listing = subprocess.run(["fls", "-r", "-p", "-d", "-o", offset, image], capture_output=True,
                                 text=True, errors="replace").stdout
        for line in listing.splitlines():
            kind, _, rest = line.partition(" ")
            address = rest.split(":", 1)[0]
            if not kind.endswith("/r") or "*" not in address:
                continue
            inode = address.replace("*", "").replace("(realloc)", "").strip()
            target = os.path.join(scratch, "icat.bin")
            with open(target, "wb") as handle:
                subprocess.run(["icat", "-o", offset, image, inode], stdout=handle,
                               stderr=subprocess.DEVNULL)
            found[(partition["index"], sha256_file(target))] += 1
    return found


def ours(image, truth):
    """What scan and recover-all with --all-directories give back; (found, note)."""
    common = ["--image", image, "--sector-size", str(truth["sector_size"]), "--all-directories"]
    scan = subprocess.run([tool, "scan", *common], capture_output=True, text=True, errors="replace")
    if scan.returncode != 0:
        return collections.Counter(), "scan: " + (scan.stderr.strip().splitlines() or ["failed"])[0]
    partition_of = {}
    kinds = []
    for report in json.loads(scan.stdout)["filesystems"]:
        kinds.append(str(report.get("kind")))
        for candidate in report["candidates"]:
            partition_of[candidate["id"]] = report["partition_index"]
    out = os.path.join(scratch, "out")
    shutil.rmtree(out, ignore_errors=True)
    batch = subprocess.run([tool, "recover-all", *common, "--output-directory", out],
                           capture_output=True, text=True, errors="replace")
    found = collections.Counter()
    if batch.stdout.strip():
        for item in json.loads(batch.stdout)["items"]:
            if item.get("output"):
                found[(partition_of[item["candidate_id"]], sha256_file(item["output"]))] += 1
    note = f"{len(partition_of)} candidates; volumes read as {', '.join(kinds)}"
    if batch.returncode != 0:
        note += "; recover-all: " + (batch.stderr.strip().splitlines() or ["failed"])[0]
    shutil.rmtree(out, ignore_errors=True)
    return found, note


images = []
for fixture in fixtures:
    name = os.path.basename(fixture)[: -len(".img.gz")]
    images.append((name, fixture, fixture[: -len(".img.gz")] + ".truth.json"))
images.append(("2 GB FAT16 card (32 KiB)", None, os.path.join(card_dir, "card.truth.json")))

rows = []
for name, fixture, truth_path in images:
    truth = json.load(open(truth_path, encoding="utf-8"))
    if fixture:
        image = os.path.join(scratch, name + ".img")
        with gzip.open(fixture, "rb") as source, open(image, "wb") as target:
            shutil.copyfileobj(source, target, 1 << 20)
    else:
        image = os.path.join(card_dir, "card.img")
    want = wanted(truth)
    theirs = sleuth_kit(image, truth)
    tsk = given_back(theirs, want)
    if have_tool:
        found, note = ours(image, truth)
        mine = given_back(found, want)
        only_theirs = sorted(paths_of(theirs, truth) - paths_of(found, truth))
        only_ours = sorted(paths_of(found, truth) - paths_of(theirs, truth))
    else:
        mine, note, only_theirs, only_ours = None, "", [], []
    rows.append((name, sum(want.values()), expected_exact(truth), tsk, mine, note, only_theirs, only_ours))
    if fixture:
        os.remove(image)

dash = lambda v: "-" if v is None else v  # noqa: E731
print(f"{'image':30} {'deleted':>7} {'truth exact':>11} {'fls+icat':>8} {'kestrel':>7}")
for name, deleted, expected, tsk, mine, *_ in rows:
    print(f"{name:30} {deleted:7} {dash(expected):>11} {tsk:8} {dash(mine):>7}")
print(f"{'total':30} {sum(r[1] for r in rows):7} {'':>11} {sum(r[3] for r in rows):8} "
      f"{dash(None if not have_tool else sum(r[4] for r in rows)):>7}")
print("truth exact: deleted files the fixture's truth expects byte-exact with --all-directories; "
      "kestrel: scan and recover-all with --all-directories")
for name, _, _, _, _, note, only_theirs, only_ours in rows:
    if note:
        print(f"  {name}: {note}")
    for path in only_theirs:
        print(f"    only fls+icat: {path}")
    for path in only_ours:
        print(f"    only kestrel:  {path}")
PY
