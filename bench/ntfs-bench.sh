#!/usr/bin/env bash
# NTFS: per fixture, how many of its deleted files (named streams counted on their own) each tool
# gives back byte-exact (SHA-256 equal to what the fixture script wrote), side by side:
#   fls+icat      every regular file `fls -r -p -d` lists as deleted, read with `icat`
#   ntfsundelete  `ntfsundelete --undelete --match '*' --percentage 0 --truncate` into a scratch
#                 directory, run on the partition copied out of the image
#   kestrel       this tool's `scan` and `recover-all`, both with --all-directories
# and the number of deleted files the truth expects byte-exact. A truth file's deleted, non-empty
# files are counted; a file counts as given back when an output of the tool on its partition carries
# its digest (files with equal bytes each need an output of their own).
#
# Timing: with --large IMAGE (default: the image bench/make-large-ntfs.sh leaves in
# $TMPDIR/kestrel-large-ntfs, when it is there), wall time and peak RSS (/usr/bin/time -v) of
# `fls -r -d` and of this tool's `scan --all-directories` on it.
#
# Usage: bench/ntfs-bench.sh [--tool PATH] [--large IMAGE] [FIXTURE.img.gz ...]
#   --tool PATH   the built kestrel-recovery-cli (default: build/release/cli/kestrel-recovery-cli);
#                 while it cannot read NTFS its column shows what it gives back (0), and "-" when
#                 it is not built
#   fixtures      default: every image in tests/fixtures/ntfs
#
# Needs python3, fls and icat (sleuthkit), ntfsundelete (ntfs-3g), /usr/bin/time (time).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
tool="$repo/build/release/cli/kestrel-recovery-cli"
large="${TMPDIR:-/tmp}/kestrel-large-ntfs/large.img"
fixtures=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --tool) tool=$2; shift 2 ;;
    --large) large=$2; shift 2 ;;
    *) fixtures+=("$1"); shift ;;
  esac
done
if [[ ${#fixtures[@]} -eq 0 ]]; then
  fixtures=("$repo"/tests/fixtures/ntfs/*.img.gz)
fi
for needed in python3 fls icat ntfsundelete /usr/bin/time; do
  command -v "$needed" >/dev/null || { echo "missing tool: $needed (scripts/install-deps.sh --fixtures)" >&2; exit 1; }
done
if [[ ! -x "$tool" ]]; then
  echo "note: $tool is not there (build it with: make build); its column shows '-'" >&2
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-ntfs-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

python3 - "$tool" "$scratch" "$large" "${fixtures[@]}" <<'PY'
import collections, gzip, hashlib, json, os, re, shutil, subprocess, sys

tool, scratch, large, fixtures = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
have_tool = os.access(tool, os.X_OK)


def sha256_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as handle:
        for block in iter(lambda: handle.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def digests_below(folder, partition):
    found = collections.Counter()
    for root, _, names in os.walk(folder):
        for name in names:
            found[(partition, sha256_file(os.path.join(root, name)))] += 1
    return found


def wanted(truth):
    return collections.Counter((f["partition_index"], f["sha256"]) for f in truth["files"]
                               if f["deleted"] and f["size"] > 0)


def given_back(found, want):
    return sum(min(found[key], count) for key, count in want.items())


def disagreements(label, found, truth):
    """Deleted files where a tool and the truth differ: expected exact but not given back, or given
    back byte-exact though the truth does not expect it."""
    left, lines = collections.Counter(found), []
    if not found:
        return []  # read nothing: the count and the tool's own message say enough
    for f in truth["files"]:
        key = (f["partition_index"], f["sha256"])
        if not f["deleted"] or f["size"] == 0:
            continue
        got = left[key] > 0
        if got:
            left[key] -= 1
        if got != (f["expect"] == "exact"):
            lines.append(f"{label} {'gave back' if got else 'missed'} {f['path']} (truth: {f['expect']})")
    return lines


def tsk_offset(truth, partition):
    """fls/icat take the offset in 512-byte units unless told the sector size with -b."""
    return ["-b", str(truth["sector_size"]), "-o", str(partition["start_lba"])]


def sleuth_kit(image, truth):
    found, notes = collections.Counter(), []
    for partition in truth["partitions"]:
        where = tsk_offset(truth, partition)
        listing = subprocess.run(["fls", "-r", "-p", "-d", *where, image], capture_output=True,
                                 text=True, errors="replace")
        if listing.returncode != 0:
            notes.append("fls: " + (listing.stderr.strip().splitlines() or ["failed"])[0])
        for line in listing.stdout.splitlines():
            kind, _, rest = line.partition(" ")
            address = rest.split(":", 1)[0]
            if not kind.endswith("/r") or "*" not in address:
                continue
            inode = address.replace("*", "").replace("(realloc)", "").strip()
            target = os.path.join(scratch, "icat.bin")
            with open(target, "wb") as handle:
                subprocess.run(["icat", *where, image, inode], stdout=handle, stderr=subprocess.DEVNULL)
            found[(partition["index"], sha256_file(target))] += 1
    return found, notes


def ntfsundelete(image, truth):
    found, notes = collections.Counter(), []
    for partition in truth["partitions"]:
        volume = os.path.join(scratch, "volume.img")
        with open(image, "rb") as source, open(volume, "wb") as target:
            source.seek(partition["start_lba"] * truth["sector_size"])
            shutil.copyfileobj(source, target, 1 << 20)
        out = os.path.join(scratch, "undeleted")
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        result = subprocess.run(["ntfsundelete", "--undelete", "--match", "*", "--percentage", "0",
                                 "--truncate", "--force", "--destination", out, volume],
                                capture_output=True, text=True, errors="replace")
        if result.returncode != 0 and not os.listdir(out):
            lines = [l for l in (result.stderr + result.stdout).splitlines() if l.strip()]
            notes.append("ntfsundelete: " + (lines[0] if lines else "failed"))
        found += digests_below(out, partition["index"])
        shutil.rmtree(out, ignore_errors=True)
        os.remove(volume)
    return found, notes


def ours(image, truth):
    common = ["--image", image, "--sector-size", str(truth["sector_size"]), "--all-directories"]
    scan = subprocess.run([tool, "scan", *common], capture_output=True, text=True, errors="replace")
    if scan.returncode != 0:
        return collections.Counter(), ["scan: " + (scan.stderr.strip().splitlines() or ["failed"])[0]]
    partition_of, kinds = {}, []
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
    notes = [f"kestrel: {len(partition_of)} candidates; volumes read as {', '.join(kinds)}"]
    if batch.returncode != 0:
        notes.append("recover-all: " + (batch.stderr.strip().splitlines() or ["failed"])[0])
    shutil.rmtree(out, ignore_errors=True)
    return found, notes


rows = []
for fixture in fixtures:
    name = os.path.basename(fixture)[: -len(".img.gz")]
    truth = json.load(open(fixture[: -len(".img.gz")] + ".truth.json", encoding="utf-8"))
    image = os.path.join(scratch, name + ".img")
    with gzip.open(fixture, "rb") as source, open(image, "wb") as target:
        shutil.copyfileobj(source, target, 1 << 20)
    want = wanted(truth)
    expected = sum(1 for f in truth["files"] if f["deleted"] and f["size"] > 0 and f["expect"] == "exact")
    tsk, tsk_notes = sleuth_kit(image, truth)
    undelete, undelete_notes = ntfsundelete(image, truth)
    if have_tool:
        mine, my_notes = ours(image, truth)
        mine_count = given_back(mine, want)
    else:
        mine_count, my_notes = None, []
    differences = disagreements("fls+icat", tsk, truth) + disagreements("ntfsundelete", undelete, truth)
    if have_tool:
        differences += disagreements("kestrel", mine, truth)
    rows.append((name, sum(want.values()), expected, given_back(tsk, want), given_back(undelete, want),
                 mine_count, tsk_notes + undelete_notes + my_notes + differences))
    os.remove(image)

dash = lambda v: "-" if v is None else v  # noqa: E731
print(f"{'image':22} | {'deleted':>7} | {'truth exact':>11} | {'fls+icat':>8} | {'ntfsundelete':>12} | {'kestrel':>7}")
for name, deleted, expected, tsk, undelete, mine, _ in rows:
    print(f"{name:22} | {deleted:7} | {expected:11} | {tsk:8} | {undelete:12} | {dash(mine):>7}")
total = lambda i: sum(r[i] for r in rows)  # noqa: E731
print(f"{'total':22} | {total(1):7} | {total(2):11} | {total(3):8} | {total(4):12} | "
      f"{dash(None if not have_tool else total(5)):>7}")
print("deleted: deleted non-empty files and streams the fixture script wrote; truth exact: those it "
      "expects byte-exact; the other columns: how many of the deleted ones each tool gave back byte-exact")
for name, *_, notes in rows:
    for note in notes:
        print(f"  {name}: {note}")


def timed(command):
    result = subprocess.run(["/usr/bin/time", "-v", *command], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, errors="replace")
    wall = re.search(r"Elapsed \(wall clock\) time.*: (\S+)", result.stderr)
    rss = re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr)
    status = "" if result.returncode == 0 else f" (exit {result.returncode})"
    return f"{wall.group(1) if wall else '?'} wall, {int(rss.group(1)) // 1024 if rss else '?'} MiB peak RSS{status}"


if os.path.isfile(large):
    print(f"\nlarge image {large} ({os.path.getsize(large) // (1 << 20)} MiB):")
    print(f"  fls -r -d:                    {timed(['fls', '-r', '-d', large])}")
    if have_tool:
        print(f"  kestrel scan --all-directories: "
              f"{timed([tool, 'scan', '--image', large, '--all-directories'])}")
else:
    print(f"\nno large image at {large} (make it with bench/make-large-ntfs.sh); timing skipped")
PY
